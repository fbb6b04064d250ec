// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_posix.h"
#include "link/system_port.h"

namespace kvd {

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

}  // namespace kvd
