// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_win32.h"
#include "link/system_port.h"

namespace kvd {

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
  return std::make_unique<Win32SerialPort>();
}

}  // namespace kvd
