// SPDX-License-Identifier: GPL-3.0-or-later
// A tester on the virtual K-line: the real frame layer over the virtual line and ECU, all on a
// virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "link/clock.h"
#include "link/kwp.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"

namespace kvd::test {

class SimTest : public ::testing::Test {
 protected:
  explicit SimTest(VirtualLine::Options options = {})
      : clock(1'000'000), line(ecu, clock, options), link(line, clock) {
    EXPECT_EQ(line.OpenPort(1), kPortOk);
    EXPECT_EQ(line.SetLineParameters(10400, 8, 0, 1), kPortOk);
    EXPECT_TRUE(line.SetReadTimeouts(0, 5, 100));
    link.TargetAddress = 0x10;
  }

  std::vector<uint8_t> Answer() const {
    return std::vector<uint8_t>(link.ResponseBuffer.begin(),
                                link.ResponseBuffer.begin() + link.ResponseDataLength);
  }

  // The session sequence: StartCommunication, StartDiagnosticSession, TesterPresent.
  void Connect() {
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
    clock.Sleep(200);
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x10, 0x81, 0x0A}, 0, 50), kKwpPositive);
    clock.Sleep(200);
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}, 0, 50), kKwpPositive);
  }

  // Writes raw bytes and collects everything that comes back within ms.
  std::vector<uint8_t> WriteAndCollect(const std::vector<uint8_t>& bytes, uint32_t ms) {
    line.PurgePort();
    line.WriteBytes(static_cast<uint32_t>(bytes.size()), bytes.data());
    line.SetReadTimeouts(0, 0, ms);
    std::vector<uint8_t> got(256);
    const int32_t n = line.ReadBytes(256, got.data());
    line.SetReadTimeouts(0, 5, 100);
    got.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return got;
  }

  VirtualClock clock;
  VirtualEcu ecu;
  VirtualLine line;
  KwpLink link;
};

}  // namespace kvd::test
