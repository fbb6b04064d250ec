// SPDX-License-Identifier: GPL-3.0-or-later
// The real POSIX back-end on a pseudo-terminal: the test holds the master side and plays the
// adapter; the port under test opens the slave side like any serial device.
#ifndef _WIN32

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/kwp.h"
#include "link/serial_posix.h"
#include "link/system_port.h"
#include "link/termios2_posix.h"

namespace kvd {
namespace {

using ::testing::ElementsAre;
using Ms = std::chrono::duration<double, std::milli>;

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return;
    char name[128] = {};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
      close(master_);
      master_ = -1;
      return;
    }
    slave_ = name;
  }
  ~Pty() { CloseMaster(); }
  bool Ok() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slave_; }
  int Master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  void Send(const std::vector<uint8_t>& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Whatever arrives within waitMs.
  std::vector<uint8_t> Receive(size_t want, int waitMs) const {
    std::vector<uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (out.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[512];
      const ssize_t n = read(master_, buf, std::min(sizeof buf, want - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

template <typename F>
double TimeMs(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return Ms(std::chrono::steady_clock::now() - t0).count();
}

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty.Ok()) GTEST_SKIP() << "no pseudo-terminals on this machine";
    ASSERT_EQ(port.OpenDevice(pty.SlavePath()), kPortOk);
    ASSERT_EQ(port.SetLineParameters(10400, 8, 0, 1), kPortOk);
    ASSERT_TRUE(port.SetReadTimeouts(0, 5, 100));
  }
  Pty pty;
  PosixSerialPort port;
};

TEST(PosixPortNames, PortNumbersMapToTtyS) {
  EXPECT_EQ(PortDeviceName(1), "/dev/ttyS0");
  EXPECT_EQ(PortDeviceName(12), "/dev/ttyS11");
  EXPECT_EQ(PortDeviceName(65535), "/dev/ttyS65534");
}

TEST(PosixPortOpen, RefusedNumbersMissingDevicesAndNonTtys) {
  PosixSerialPort port;
  EXPECT_EQ(port.OpenPort(65527), kPortNumberRefused);
  EXPECT_EQ(port.OpenPort(65534), kPortNumberRefused);
  EXPECT_FALSE(port.IsOpen());
  // Their neighbours go to the OS, which has no such ports.
  EXPECT_EQ(port.OpenPort(65526), kPortOsRefused);
  EXPECT_EQ(port.DeviceName(), "/dev/ttyS65525");
  EXPECT_EQ(port.OpenPort(65535), kPortOsRefused);
  EXPECT_EQ(port.LastOpenError(), ENOENT);
  EXPECT_EQ(port.OpenDevice("/dev/kvd-no-such-port"), kPortOsRefused);
  EXPECT_EQ(port.LastOpenError(), ENOENT);
  EXPECT_EQ(port.OpenDevice(""), kPortOsRefused);
  // A plain file is no serial port.
  char path[] = "/tmp/kvd-link-test-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(port.OpenDevice(path), kPortOsRefused);
  EXPECT_EQ(port.LastOpenError(), ENOTTY);
  unlink(path);
  EXPECT_FALSE(port.IsOpen());
  // Everything on a closed port fails quietly.
  uint8_t buf[4];
  SerialTimeouts t;
  EXPECT_EQ(port.ReadByte(), -1);
  EXPECT_EQ(port.ReadBytes(4, buf), -1);
  EXPECT_EQ(port.WriteBytes(4, buf), -1);
  EXPECT_EQ(port.SetLineParameters(10400, 8, 0, 1), kLineStateUnreadable);
  EXPECT_FALSE(port.SetReadTimeouts(0, 5, 100));
  EXPECT_FALSE(port.GetTimeouts(t));
  EXPECT_FALSE(port.PurgePort());
  EXPECT_FALSE(port.SetBreak(true));
  port.ClosePort();
  EXPECT_NE(MakeSystemSerialPort(), nullptr);
}

TEST_F(PosixPortTest, OpensRawAt10400AndKeepsOtherOpenersOut) {
  posix::LineState line;
  ASSERT_TRUE(posix::ReadLine(port.Handle(), line));
  EXPECT_EQ(line.outputBaud, 10400u);
  EXPECT_EQ(line.inputBaud, 10400u);
  EXPECT_EQ(line.dataBits, 8);
  EXPECT_TRUE(line.raw);
  EXPECT_EQ(port.DeviceName(), pty.SlavePath());

  // The same instance refuses a second open and keeps the first.
  const int fd = port.Handle();
  EXPECT_EQ(port.OpenDevice(pty.SlavePath()), kPortAlreadyOpen);
  EXPECT_EQ(port.OpenPort(1), kPortAlreadyOpen);
  EXPECT_EQ(port.OpenPort(65530), kPortAlreadyOpen);
  EXPECT_EQ(port.Handle(), fd);
  // Another instance (another program) finds the device in use.
  PosixSerialPort other;
  EXPECT_EQ(other.OpenDevice(pty.SlavePath()), kPortOsRefused);
  EXPECT_FALSE(other.IsOpen());

  // Refused settings leave the port as it was.
  EXPECT_EQ(port.SetLineParameters(10400, 9, 0, 1), kLineStateRefused);
  EXPECT_EQ(port.SetLineParameters(0, 8, 0, 1), kLineStateRefused);
  ASSERT_TRUE(posix::ReadLine(port.Handle(), line));
  EXPECT_EQ(line.outputBaud, 10400u);
  EXPECT_EQ(port.SetLineParameters(9600, 8, 7, 0), kPortOk);
  ASSERT_TRUE(posix::ReadLine(port.Handle(), line));
  EXPECT_EQ(line.outputBaud, 9600u);
}

TEST_F(PosixPortTest, ParityAndStopBitCodes) {
  // A pseudo-terminal always keeps eight bits without parity, but it holds the sense bits and
  // the stop bits as set, which is enough to see the codes mapped.
  struct Case {
    uint8_t parity, stopBits;
    bool odd, stick, twoStop;
  };
  const Case cases[] = {
      {0, 1, false, false, false}, {1, 1, true, false, false}, {2, 2, false, false, true},
      {7, 1, true, true, false},   {3, 0, true, true, true},  // mark; 1.5 stop bits become 2
  };
  for (const Case& c : cases) {
    ASSERT_EQ(port.SetLineParameters(10400, 8, c.parity, c.stopBits), kPortOk);
    posix::LineState line;
    ASSERT_TRUE(posix::ReadLine(port.Handle(), line));
    EXPECT_EQ(line.parityOdd, c.odd) << int(c.parity);
    EXPECT_EQ(line.parityStick, c.stick) << int(c.parity);
    EXPECT_EQ(line.twoStopBits, c.twoStop) << int(c.stopBits);
    EXPECT_EQ(line.outputBaud, 10400u);
  }
}

TEST_F(PosixPortTest, ReadTimeoutsAsTheWindowsDriverHasThem) {
  int32_t r = 0;
  const double byteMs = TimeMs([&] { r = port.ReadByte(); });
  EXPECT_EQ(r, -1);
  EXPECT_GE(byteMs, 95.0);
  EXPECT_LE(byteMs, 250.0);

  ASSERT_TRUE(port.SetReadTimeouts(0, 0, 25));
  uint8_t buf[256];
  const double quietMs = TimeMs([&] { r = port.ReadBytes(256, buf); });
  EXPECT_EQ(r, -1);
  EXPECT_GE(quietMs, 20.0);
  EXPECT_LE(quietMs, 150.0);

  // With traffic the same wait returns what came.
  pty.Send({0x01, 0x02, 0x03, 0x04, 0x05});
  const double busyMs = TimeMs([&] { r = port.ReadBytes(256, buf); });
  EXPECT_EQ(r, 5);
  EXPECT_THAT(std::vector<uint8_t>(buf, buf + 5), ElementsAre(1, 2, 3, 4, 5));
  EXPECT_GE(busyMs, 20.0);

  // An interval limit ends the read soon after the last byte, long before the total.
  ASSERT_TRUE(port.SetReadTimeouts(10, 0, 2000));
  pty.Send({0xAA, 0xBB});
  const double intervalMs = TimeMs([&] { r = port.ReadBytes(256, buf); });
  EXPECT_EQ(r, 2);
  EXPECT_LE(intervalMs, 500.0);

  // All three zero would mean "wait forever" to the Windows driver: here it takes what is there.
  ASSERT_TRUE(port.SetReadTimeouts(0, 0, 0));
  const double zeroMs = TimeMs([&] { r = port.ReadByte(); });
  EXPECT_EQ(r, -1);
  EXPECT_LE(zeroMs, 50.0);
  pty.Send({0x42});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(port.ReadByte(), 0x42);

  // Only an interval: the first byte is awaited for one interval, not forever.
  ASSERT_TRUE(port.SetReadTimeouts(30, 0, 0));
  const double intervalOnlyMs = TimeMs([&] { r = port.ReadByte(); });
  EXPECT_EQ(r, -1);
  EXPECT_LE(intervalOnlyMs, 250.0);

  // "At once" markers with a constant: wait for the first bytes, then take only what came.
  constexpr uint32_t kMax = 0xFFFFFFFF;
  ASSERT_TRUE(port.SetReadTimeouts(kMax, kMax, 40));
  const double firstMs = TimeMs([&] { r = port.ReadBytes(256, buf); });
  EXPECT_EQ(r, -1);
  EXPECT_GE(firstMs, 30.0);
  EXPECT_LE(firstMs, 250.0);
  pty.Send({0x10, 0x20});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(port.ReadBytes(256, buf), 2);

  SerialTimeouts t;
  ASSERT_TRUE(port.SetReadTimeouts(30, 0, 0));
  ASSERT_TRUE(port.GetTimeouts(t));
  EXPECT_EQ(t.ReadIntervalTimeout, 30u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);

  std::printf(
      "[ timing ] ReadByte(0,5,100): %.2f ms (error %+.2f ms); ReadBytes 256 (0,0,25): "
      "%.2f ms (error %+.2f ms)\n",
      byteMs, byteMs - 105.0, quietMs, quietMs - 25.0);
}

TEST_F(PosixPortTest, LongQuietReadWaitsMultiplierTimesCountPlusConstant) {
  uint8_t buf[256];
  int32_t r = 0;
  const double ms = TimeMs([&] { r = port.ReadBytes(256, buf); });
  EXPECT_EQ(r, -1);
  EXPECT_GE(ms, 1370.0);
  EXPECT_LE(ms, 2000.0);
  std::printf("[ timing ] ReadBytes 256 (0,5,100): %.2f ms (error %+.2f ms)\n", ms, ms - 1380.0);
}

TEST_F(PosixPortTest, BytesTravelBothWaysAndPurgeDropsInput) {
  const std::vector<uint8_t> frame{0x82, 0x10, 0xF1, 0x21, 0x01, 0xA5};
  ASSERT_EQ(port.WriteBytes(static_cast<uint32_t>(frame.size()), frame.data()), 0);
  EXPECT_EQ(pty.Receive(frame.size(), 500), frame);
  EXPECT_EQ(port.WriteBytes(0, frame.data()), -1);

  // Bytes that are not line endings or control characters pass untouched.
  pty.Send({0x00, 0x0A, 0x0D, 0x11, 0x13, 0x03, 0x7F, 0xFF});
  uint8_t buf[16];
  EXPECT_EQ(port.ReadBytes(8, buf), 8);
  EXPECT_THAT(std::vector<uint8_t>(buf, buf + 8),
              ElementsAre(0x00, 0x0A, 0x0D, 0x11, 0x13, 0x03, 0x7F, 0xFF));

  pty.Send({0x55, 0x66, 0x77});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(port.PurgePort());
  EXPECT_EQ(port.ReadByte(), -1);

  // Break and modem lines: a pseudo-terminal may refuse them, the port stays usable.
  port.SetBreak(true);
  port.SetBreak(false);
  port.SetModemLines(false, true);
  pty.Send({0x99});
  EXPECT_EQ(port.ReadByte(), 0x99);
}

TEST_F(PosixPortTest, CloseAndReopen) {
  port.ClosePort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Handle(), -1);
  port.ClosePort();  // twice: nothing happens
  ASSERT_EQ(port.OpenDevice(pty.SlavePath()), kPortOk);
  ASSERT_EQ(port.SetLineParameters(10400, 8, 0, 1), kPortOk);
  ASSERT_TRUE(port.SetReadTimeouts(0, 5, 100));
  pty.Send({0x12});
  EXPECT_EQ(port.ReadByte(), 0x12);
  // Closed, the device is free for another program.
  port.ClosePort();
  PosixSerialPort other;
  EXPECT_EQ(other.OpenDevice(pty.SlavePath()), kPortOk);
}

TEST_F(PosixPortTest, StalledLineCannotHoldAWrite) {
  // Nobody reads the master: fill the line until it takes nothing more.
  std::vector<uint8_t> chunk(4096, 0x55);
  const int flags = fcntl(port.Handle(), F_GETFL);
  fcntl(port.Handle(), F_SETFL, flags | O_NONBLOCK);
  // The kernel moves data on between its buffers a little later: fill until a pause frees
  // nothing more.
  for (int round = 0; round < 100; ++round) {
    size_t accepted = 0;
    for (ssize_t n; (n = write(port.Handle(), chunk.data(), chunk.size())) > 0;) {
      accepted += static_cast<size_t>(n);
    }
    if (accepted == 0 && round > 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  fcntl(port.Handle(), F_SETFL, flags);
  int32_t r = 0;
  const uint8_t one = 0x01;
  const double ms = TimeMs([&] { r = port.WriteBytes(1, &one); });
  EXPECT_EQ(r, -1);
  EXPECT_GE(ms, 150.0);  // 100 x 1 + 100
  EXPECT_LE(ms, 600.0);
}

TEST_F(PosixPortTest, VanishedAdapterEndsReadsAtOnce) {
  pty.CloseMaster();
  int32_t r = 0;
  const double ms = TimeMs([&] { r = port.ReadByte(); });
  EXPECT_EQ(r, -1);
  EXPECT_LE(ms, 250.0);
}

// The frame layer on the real back-end, with a thread playing the adapter (echo) and the ECU.
class PtyEcu {
 public:
  PtyEcu(const Pty& pty, size_t frameLength, std::vector<uint8_t> answer, int answerDelayMs)
      : thread_([=, &pty, this] {
          std::vector<uint8_t> frame;
          while (!stop_ && frame.size() < frameLength) {
            const auto more = pty.Receive(frameLength - frame.size(), 20);
            frame.insert(frame.end(), more.begin(), more.end());
          }
          if (stop_) return;
          pty.Send(frame);  // the echo
          std::this_thread::sleep_for(std::chrono::milliseconds(answerDelayMs));
          pty.Send(answer);
        }) {}
  ~PtyEcu() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(PosixPortTest, TransactionOverThePseudoTerminal) {
  RealClock clock;
  KwpLink link(port, clock);
  link.TargetAddress = 0x10;
  int32_t r = 0;
  {
    PtyEcu ecu(pty, 6, {0x83, 0xF1, 0x10, 0x61, 0x01, 0x5A, 0x40}, 10);
    r = link.KwpTransaction({0x21, 0x01});
  }
  EXPECT_EQ(r, kKwpPositive);
  EXPECT_EQ(link.ResponseDataLength, 3);
  EXPECT_THAT(std::vector<uint8_t>(link.ResponseBuffer.begin(), link.ResponseBuffer.begin() + 3),
              ElementsAre(0x61, 0x01, 0x5A));

  // Nobody answers now: the missing echo is noticed after one byte time-out.
  int32_t lost = 0;
  const double ms = TimeMs([&] { lost = link.KwpTransaction({0x21, 0x01}); });
  EXPECT_EQ(lost, kKwpEchoMissing);
  EXPECT_GE(ms, 95.0);
  EXPECT_LE(ms, 300.0);
}

TEST_F(PosixPortTest, WakeUpAndStartCommunicationInRealTime) {
  RealClock clock;
  KwpLink link(port, clock);
  link.TargetAddress = 0x10;
  int32_t r = 0;
  double ms = 0;
  {
    PtyEcu ecu(pty, 5, {0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC3}, 30);
    ms = TimeMs([&] { r = link.KwpTransaction({0x81}); });
  }
  EXPECT_EQ(r, kKwpPositive);
  EXPECT_THAT(std::vector<uint8_t>(link.ResponseBuffer.begin(), link.ResponseBuffer.begin() + 3),
              ElementsAre(0xC1, 0xEF, 0x8F));
  // 350 + 25 + 25 ms of pattern and 30 ms of answer time.
  EXPECT_GE(ms, 425.0);
  EXPECT_LE(ms, 1000.0);
  SerialTimeouts t;
  ASSERT_TRUE(port.GetTimeouts(t));
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
  std::printf("[ timing ] wake-up and StartCommunication with a 30 ms answer: %.2f ms\n", ms);
}

}  // namespace
}  // namespace kvd

#endif  // _WIN32
