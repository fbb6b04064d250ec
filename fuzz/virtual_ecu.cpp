// Fuzz target: the virtual ECU fed tester bytes, breaks and pauses as a client of its line
// (the pseudo-terminal of the simulator tool) can send them, and whole request messages.
// Input: a byte of ECU settings and faults, then events:
// The engine behind the ECU runs in 10 ms steps of line time, so an input gets 4 s of line
// time in all; pauses beyond that budget take no time.
//   00tttttt v  tester byte v after a pause of t quarter milliseconds
//   01tttttt    a quiet line for t x 20 ms
//   10tttttt    the line held low for t ms
//   110nnnnn    the ECU's transmissions are taken; n = 1 reopens the line, n = 2 waits 1.5 s
//   111nnnnn .. the next n bytes as a request message handed to the ECU directly
// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_port.h"
#include "sim/virtual_ecu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvd::fuzz::InputReader in({data, size});
  const uint8_t setup = in.Byte();
  kvd::EcuSettings settings;
  settings.wakeup = (setup & 1) ? kvd::WakeupMode::kIdle : kvd::WakeupMode::kBreak;
  settings.p3MaxMs = 1000;  // a session time-out within the input's line time
  kvd::VirtualEcu ecu(settings, 1 + (setup >> 7));
  kvd::EcuFaults& faults = ecu.Faults();
  faults.busyAnswers = (setup >> 1) & 1;
  faults.pendingAnswers = (setup >> 2) & 1;
  faults.noiseBytes = (setup & 0x08) ? 3 : 0;
  faults.badChecksum = (setup & 0x10) != 0;
  faults.shortMemRead = (setup & 0x20) != 0;
  faults.wrongService = (setup & 0x40) != 0;

  uint64_t now = 1000;
  uint64_t budgetUs = 4'000'000;
  const auto pause = [&](uint64_t us) {
    us = std::min(us, budgetUs);
    budgetUs -= us;
    now += us;
  };
  uint64_t lastSentUs = 0;
  const auto take = [&] {
    for (const kvd::EcuTransmission& t : ecu.TakeTransmissions()) {
      KVD_FUZZ_CHECK(!t.bytes.empty() && t.bytes.size() <= 260);
      KVD_FUZZ_CHECK(t.startUs >= lastSentUs);
      lastSentUs = t.startUs;
    }
  };
  ecu.LineOpened(now);
  std::vector<uint8_t> message;
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    const uint8_t t = op & 0x3F;
    switch (op >> 6) {
      case 0:
        pause(uint64_t{t} * 250);
        now = kvd::ByteEndMicros(now, 0);
        ecu.TesterByte(in.Byte(), now);
        break;
      case 1:
        pause(uint64_t{t} * 20000);
        break;
      case 2: {
        const uint64_t start = now;
        pause(uint64_t{t} * 1000);
        ecu.TesterBreak(start, now);
        break;
      }
      default:
        if ((op & 0x20) == 0) {
          if ((op & 0x1F) == 1) ecu.LineOpened(now);
          if ((op & 0x1F) == 2) pause(1'500'000);
          take();
        } else {
          message.clear();
          for (int n = op & 0x1F; n > 0 && !in.Empty(); --n) message.push_back(in.Byte());
          if (const auto answer = ecu.Answer(message, now)) KVD_FUZZ_CHECK(answer->size() <= 255);
        }
        break;
    }
  }
  take();
  return 0;
}
