// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-ecu-sim started as a child process for the end-to-end tests, serving the virtual ECU on
// a pseudo-terminal whose path it prints first.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/kwp.h"
#include "link/serial_posix.h"
#include "sim_child.h"

namespace kvd {

// A tester on kvd-ecu-sim's line: the program's POSIX port at 10400 baud 8N1 and its link,
// addressed to the ECU (0x10).
class SimTesterTest : public ::testing::Test {
 protected:
  void Open(const SimProcess& sim) {
    ASSERT_FALSE(sim.Path().empty()) << "kvd-ecu-sim printed no path";
    ASSERT_EQ(port.OpenDevice(sim.Path()), kPortOk) << sim.Path();
    ASSERT_EQ(port.SetLineParameters(10400, 8, 0, 1), kPortOk);
    ASSERT_TRUE(port.SetReadTimeouts(0, 5, 100));
    link.TargetAddress = 0x10;
  }

  RealClock clock;
  PosixSerialPort port;
  KwpLink link{port, clock};
};

}  // namespace kvd
#endif  // !_WIN32
