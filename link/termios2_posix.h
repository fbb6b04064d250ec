// SPDX-License-Identifier: GPL-3.0-or-later
// Line settings of a Linux tty through the termios2 interface, which takes any baud rate
// (10400 is not one of the classic B-constants). Kept apart from <termios.h>, whose struct
// and macros clash with the kernel's.
#pragma once

#include <cstdint>

namespace kvd::posix {

// Puts the tty into raw binary mode (no echo, no line editing, no character translation, no
// flow control, reads never block by themselves) and keeps the current speed and framing.
// Returns true on success.
bool MakeRaw(int fd);

// Raw mode plus the given speed and framing. Parity: 0 none, 1 odd, 2 even, other mark.
// Stop bits: 1 one, 2 two, other one and a half (Linux has no 1.5 stop bits; two are used).
// 0 applied, -1 the current state cannot be read, -2 the new state is refused (also for data
// bits outside 5..8 and a baud rate of 0, which would hang up the line).
int32_t ApplyLine(int fd, uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);

// What the driver holds now, for checking that a setting took. False when it cannot be read.
struct LineState {
  uint32_t inputBaud = 0;
  uint32_t outputBaud = 0;
  uint8_t dataBits = 0;
  bool parityEnabled = false;
  bool parityOdd = false;
  bool parityStick = false;
  bool twoStopBits = false;
  bool raw = false;
};
bool ReadLine(int fd, LineState& out);

}  // namespace kvd::posix
