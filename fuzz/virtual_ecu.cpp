// Fuzz target: the virtual ECU fed tester bytes, breaks and pauses as a client of its line
// (the pseudo-terminal of the simulator tool) can send them, and whole request messages.
// Input: a byte of ECU settings and faults, then events:
// The engine behind the ECU runs in 10 ms steps of line time, so an input gets 4 s of line
// time in all; pauses beyond that budget take no time.
//   00tttttt v  tester byte v after a pause of t quarter milliseconds
//   01tttttt    a quiet line for t x 20 ms
//   10tttttt    the line held low for t ms
//   110nnnnn    the ECU's transmissions are taken; n = 1 reopens the line, n = 2 waits 1.5 s
//   111nnnnn .. the next n bytes as a request message handed to the ECU directly (n > 0)
//   11100000 .. the rest is host text for a virtual ELM327 adapter in front of the ECU: each
//               byte a character the host writes, except FF t, a pause of t x 20 ms
// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_port.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_elm.h"

namespace {

// The adapter's side: host text and pauses; what comes back (the echo of any byte, and the
// adapter's text) comes in time order, and every piece of work ends.
void HostText(kvd::fuzz::InputReader& in, kvd::VirtualEcu& ecu, uint64_t now) {
  kvd::ElmOptions options;
  options.resetMs = 20;
  kvd::VirtualElm327 elm(ecu, options);
  elm.PowerOn(now);
  uint64_t lastOut = 0;
  const auto run = [&](uint64_t until) {
    elm.Advance(until);
    for (const kvd::VirtualElm327::TimedByte& b : elm.TakeOutput(until)) {
      KVD_FUZZ_CHECK(b.atUs >= lastOut && b.atUs <= until);
      lastOut = b.atUs;
    }
  };
  uint64_t budgetUs = 30'000'000;
  while (!in.Empty()) {
    uint8_t c = in.Byte();
    if (c == 0xFF) {
      const uint64_t us = std::min<uint64_t>(uint64_t{in.Byte()} * 20'000, budgetUs);
      budgetUs -= us;
      now += us;
      run(now);
      continue;
    }
    now = elm.HostWrite(&c, 1, now);
    run(now);
  }
  // Whatever was asked finishes within the longest K-line wait there is.
  run(now + 12'000'000);
  KVD_FUZZ_CHECK(!elm.Busy());
}

}  // namespace

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
        } else if ((op & 0x1F) == 0) {
          take();
          HostText(in, ecu, now);
          return 0;
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
