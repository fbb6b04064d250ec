// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-ecu-sim on a pseudo-terminal as another tester meets it: the noise of the line comes when
// the tester has opened it and after a session times out, and the answers in every header form
// reach the program's own link.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include "link/clock.h"
#include "link/kwp.h"
#include "link/serial_posix.h"
#include "sim/sim_process.h"

namespace kvd {
namespace {

class EcuSimLineTest : public SimTesterTest {
 protected:
  // Bytes that arrive within ms.
  int32_t Listen(uint32_t ms) {
    port.SetReadTimeouts(0, 0, ms);
    uint8_t buf[256];
    const int32_t n = port.ReadBytes(256, buf);
    port.SetReadTimeouts(0, 5, 100);
    return n < 0 ? 0 : n;
  }
};

TEST_F(EcuSimLineTest, NoiseWaitsForTheTesterAndFollowsATimedOutSession) {
  SimProcess sim({"--noise", "8", "--p3", "300"});
  usleep(300'000);  // nobody has the line open yet: no noise may be spent on nobody
  Open(sim);
  const int32_t opening = Listen(500);
  EXPECT_GT(opening, 0);
  EXPECT_LE(opening, 8);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  // No request for 300 ms: the session ends, and its burst follows.
  EXPECT_EQ(Listen(900), 8);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  port.ClosePort();
  EXPECT_EQ(sim.Terminate(), 0);
}

TEST_F(EcuSimLineTest, RotatingHeaderFormsReachTheLink) {
  SimProcess sim({"--header-form", "rotate"});
  Open(sim);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  std::vector<uint8_t> firstBytes;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpPositive) << i;
    EXPECT_EQ(link.ResponseDataLength, 36);
    firstBytes.push_back(link.ResponseFrame[0]);
  }
  // The 36-byte answer in forms 80, 00, short, address.
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{0x80, 0x00, 0x24, 0xA4}));
  port.ClosePort();
  EXPECT_EQ(sim.Terminate(), 0);
}

}  // namespace
}  // namespace kvd
#endif  // !_WIN32
