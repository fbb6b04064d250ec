// SPDX-License-Identifier: GPL-3.0-or-later
// The serial back-end of the machine the program runs on.
#pragma once

#include <memory>

#include "link/serial_port.h"

namespace kvd {

// A closed port of the platform's own kind (a tty on Linux, a COM port on Windows).
std::unique_ptr<SerialPort> MakeSystemSerialPort();

}  // namespace kvd
