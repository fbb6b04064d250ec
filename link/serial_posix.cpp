// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_posix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>

#include "link/system_port.h"
#include "link/termios2_posix.h"

namespace kvd {

namespace {

// The "no limit" / "at once" marker value of the Windows time-outs.
constexpr uint32_t kMaxDword = std::numeric_limits<uint32_t>::max();
// Longest wait we ever compute, in ms (about 31 years): keeps the nanosecond sums in range.
constexpr uint64_t kMaxWaitMs = uint64_t{1} << 40;
constexpr uint32_t kWriteMultiplierMs = 100;
constexpr uint32_t kWriteConstantMs = 100;

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

int64_t MsToNs(uint64_t ms) {
  return static_cast<int64_t>(std::min(ms, kMaxWaitMs)) * 1000000;
}

// multiplier x count + constant without overflow.
uint64_t TotalMs(uint32_t multiplier, uint32_t count, uint32_t constant) {
  const uint64_t product = uint64_t{multiplier} * count;
  return std::min(product + constant, kMaxWaitMs);
}

// Waits until the descriptor is ready for `events` or the deadline passes.
// 1 ready, 0 deadline passed, -1 error or hang-up without data.
int WaitFor(int fd, short events, int64_t deadlineNs) {
  for (;;) {
    int64_t remaining = deadlineNs - NowNs();
    if (remaining < 0) remaining = 0;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(remaining / 1000000000);
    ts.tv_nsec = static_cast<long>(remaining % 1000000000);
    pollfd p{};
    p.fd = fd;
    p.events = events;
    const int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) return 0;
    if ((p.revents & events) != 0) return 1;
    return -1;
  }
}

bool SetFlag(int fd, int flag, bool on) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, on ? (flags | flag) : (flags & ~flag)) == 0;
}

bool ModemLine(int fd, int line, bool on) {
  int bits = line;
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

}  // namespace

// COM n is the n-th standard serial port of the machine.
std::string PortDeviceName(uint16_t n) {
  return "/dev/ttyS" + std::to_string(static_cast<int32_t>(n) - 1);
}

PosixSerialPort::~PosixSerialPort() {
  ClosePort();
}

int32_t PosixSerialPort::OpenPort(uint16_t port) {
  if (IsOpen()) return kPortAlreadyOpen;
  if (IsRefusedPortNumber(port)) return kPortNumberRefused;
  return OpenDevice(PortDeviceName(port));
}

int32_t PosixSerialPort::OpenDevice(const std::string& path) {
  if (IsOpen()) return kPortAlreadyOpen;
  device_ = path;
  lastOpenError_ = 0;
  if (path.empty()) {
    lastOpenError_ = ENOENT;
    return kPortOsRefused;
  }
  // Non-blocking so that a modem line (carrier) cannot hold the open; cleared right after.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastOpenError_ = errno;
    return kPortOsRefused;
  }
  const auto refuse = [&](int error) {
    lastOpenError_ = error;
    close(fd);
    return kPortOsRefused;
  };
  if (!isatty(fd)) return refuse(ENOTTY);
  // One user at a time: the tty's exclusive mode keeps other openers out, and the advisory lock
  // also stops a second copy running with the rights to ignore exclusive mode.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
  if (ioctl(fd, TIOCEXCL) != 0) return refuse(errno);
  if (!SetFlag(fd, O_NONBLOCK, false)) return refuse(errno);
  // A serial port is a byte pipe from the moment it is open, as on Windows.
  if (!posix::MakeRaw(fd)) return refuse(errno);
  // Answers are a few bytes; deliver them at once rather than in the driver's batches.
  serial_struct ss{};
  if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
    ss.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &ss);
  }
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  timeouts_ = SerialTimeouts{0, 0, 0, kWriteMultiplierMs, kWriteConstantMs};
  return kPortOk;
}

int32_t PosixSerialPort::SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                           uint8_t stopBits) {
  if (!IsOpen()) return kLineStateUnreadable;
  const int32_t r = posix::ApplyLine(fd_, baudRate, dataBits, parity, stopBits);
  if (r != 0) return r;
  // The adapter takes its supply from RTS and must see DTR off. A pseudo-terminal has no modem
  // lines and refuses this; the port works all the same.
  SetModemLines(false, true);
  return kPortOk;
}

bool PosixSerialPort::SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
  if (!IsOpen()) return false;
  timeouts_ = SerialTimeouts{interval, multiplier, constant, kWriteMultiplierMs, kWriteConstantMs};
  return true;
}

bool PosixSerialPort::GetTimeouts(SerialTimeouts& out) {
  if (!IsOpen()) return false;
  out = timeouts_;
  return true;
}

bool PosixSerialPort::SetBreak(bool on) {
  if (!IsOpen()) return false;
  return ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0;
}

bool PosixSerialPort::SetModemLines(bool dtr, bool rts) {
  if (!IsOpen()) return false;
  const bool rtsOk = ModemLine(fd_, TIOCM_RTS, rts);
  const bool dtrOk = ModemLine(fd_, TIOCM_DTR, dtr);
  return rtsOk && dtrOk;
}

bool PosixSerialPort::PurgePort() {
  if (!IsOpen()) return false;
  return tcflush(fd_, TCIOFLUSH) == 0;
}

int32_t PosixSerialPort::WriteBytes(uint32_t count, const uint8_t* bytes) {
  if (!IsOpen() || count == 0 || bytes == nullptr) return -1;
  uint64_t totalMs =
      TotalMs(timeouts_.WriteTotalTimeoutMultiplier, count, timeouts_.WriteTotalTimeoutConstant);
  // No write limit would let a stalled line hang the program; use the usual one.
  if (totalMs == 0) totalMs = TotalMs(kWriteMultiplierMs, count, kWriteConstantMs);
  const int64_t deadline = NowNs() + MsToNs(totalMs);
  // The descriptor blocks for reads; a write must not outlast its deadline when the line
  // stalls, so it is made without blocking and waits in poll().
  if (!SetFlag(fd_, O_NONBLOCK, true)) return -1;
  uint32_t written = 0;
  while (written < count) {
    const ssize_t n = write(fd_, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (WaitFor(fd_, POLLOUT, deadline) != 1) break;
  }
  SetFlag(fd_, O_NONBLOCK, false);
  return written > 0 ? 0 : -1;
}

int32_t PosixSerialPort::ReadBytes(uint32_t count, uint8_t* buffer) {
  if (!IsOpen() || buffer == nullptr || count == 0) return -1;
  count = std::min<uint32_t>(count, std::numeric_limits<int32_t>::max());
  const SerialTimeouts& t = timeouts_;
  const int64_t start = NowNs();
  const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword;
  // Interval and multiplier both "infinite" with a constant: wait up to the constant for the
  // first bytes, then return with whatever came at once.
  const bool returnOnFirst =
      t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
      t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
  // All three zero (or the "return at once" interval alone): what is there now, nothing more.
  int64_t totalDeadline = start;
  if (returnOnFirst) {
    totalDeadline = start + MsToNs(t.ReadTotalTimeoutConstant);
  } else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    totalDeadline =
        start + MsToNs(TotalMs(t.ReadTotalTimeoutMultiplier, count, t.ReadTotalTimeoutConstant));
  } else if (useInterval) {
    // Only an interval: the Windows driver would wait for the first byte without end. We allow
    // one interval for the whole read instead, so that no setting can freeze the program.
    totalDeadline = start + MsToNs(t.ReadIntervalTimeout);
  }

  uint32_t got = 0;
  int64_t lastByte = start;
  while (got < count) {
    int64_t deadline = totalDeadline;
    if (got > 0 && useInterval) {
      deadline = std::min(deadline, lastByte + MsToNs(t.ReadIntervalTimeout));
    }
    if (got > 0 && returnOnFirst) deadline = start;  // only what is already there
    const int ready = WaitFor(fd_, POLLIN, deadline);
    if (ready <= 0) break;
    const ssize_t n = read(fd_, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      lastByte = NowNs();
    } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      break;  // end of file or a device error: the line is gone
    }
  }
  return got == 0 ? -1 : static_cast<int32_t>(got);
}

int32_t PosixSerialPort::ReadByte() {
  uint8_t b = 0;
  return ReadBytes(1, &b) == 1 ? b : -1;
}

void PosixSerialPort::ClosePort() {
  if (!IsOpen()) return;
  SetModemLines(false, false);
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

}  // namespace kvd
