// SPDX-License-Identifier: GPL-3.0-or-later
// Only the kernel's termios2 here: <termios.h> must not be included in this file.
#include "link/termios2_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace kvd::posix {

namespace {

void SetRawFlags(struct termios2& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  // Reads wait in poll(), never in the driver.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

bool IsRaw(const struct termios2& t) {
  return (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (t.c_oflag & OPOST) == 0 &&
         (t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP)) == 0;
}

}  // namespace

bool MakeRaw(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  SetRawFlags(t);
  return ioctl(fd, TCSETS2, &t) == 0;
}

int32_t ApplyLine(int fd, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return -1;
  if (baudRate == 0) return -2;
  tcflag_t size = 0;
  switch (dataBits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return -2;
  }
  SetRawFlags(t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  t.c_cflag |= size;
  switch (parity) {
    case 0:
      break;
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    default:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;  // mark: stick parity bit at 1
  }
  // One and a half stop bits do not exist here; two is the nearest that keeps the receiver
  // at the far end in step.
  if (stopBits != 1) t.c_cflag |= CSTOPB;
  // Any rate, same for both directions.
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baudRate;
  t.c_ospeed = baudRate;
  if (ioctl(fd, TCSETS2, &t) != 0) return -2;
  return 0;
}

bool ReadLine(int fd, LineState& out) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  out.inputBaud = t.c_ispeed;
  out.outputBaud = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      out.dataBits = 5;
      break;
    case CS6:
      out.dataBits = 6;
      break;
    case CS7:
      out.dataBits = 7;
      break;
    default:
      out.dataBits = 8;
      break;
  }
  out.parityEnabled = (t.c_cflag & PARENB) != 0;
  out.parityOdd = (t.c_cflag & PARODD) != 0;
  out.parityStick = (t.c_cflag & CMSPAR) != 0;
  out.twoStopBits = (t.c_cflag & CSTOPB) != 0;
  out.raw = IsRaw(t);
  return true;
}

}  // namespace kvd::posix
