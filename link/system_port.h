// SPDX-License-Identifier: GPL-3.0-or-later
// The serial back-end of the machine the program runs on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/serial_port.h"

namespace kvd {

// A closed port of the platform's own kind (a tty on Linux, a COM port on Windows).
std::unique_ptr<SerialPort> MakeSystemSerialPort();

// The device that port number n opens on this platform ("/dev/ttyS0" or "\\.\COM1" for 1),
// for messages and for the port prompt.
std::string PortDeviceName(uint16_t n);

}  // namespace kvd
