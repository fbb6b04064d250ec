// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual ELM327 adapter through its serial port, on the virtual clock: its text answers and
// the K-line work behind them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/clock.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_elm.h"

namespace kvd {
namespace {

// A host on the adapter's serial port.
class ElmHost {
 public:
  explicit ElmHost(ElmOptions options = {}) : clock(1'000'000), port(ecu, clock, options) {
    EXPECT_EQ(port.OpenDevice("elm"), kPortOk);
    EXPECT_EQ(port.SetLineParameters(kElmDefaultBaud, 8, 0, 1), kPortOk);
    EXPECT_TRUE(port.SetReadTimeouts(0, 0, 20));
  }

  // Sends a command line and returns what comes back before the prompt, line ends as "|"
  // (the empty line before the prompt dropped), or "(no prompt)" after ms without one.
  std::string Command(const std::string& line, uint32_t ms = 6000) {
    const std::string text = line + "\r";
    port.WriteBytes(static_cast<uint32_t>(text.size()),
                    reinterpret_cast<const uint8_t*>(text.data()));
    return Read(ms);
  }

  std::string Read(uint32_t ms) {
    std::string got;
    const uint64_t end = clock.MicrosNow() + uint64_t{ms} * 1000;
    while (clock.MicrosNow() < end) {
      const int32_t b = port.ReadByte();
      if (b < 0) continue;
      if (b == '>') {
        while (!got.empty() && (got.back() == '\r' || got.back() == '\n')) got.pop_back();
        std::string out;
        for (char c : got) {
          if (c == '\r') out += '|';
          if (c != '\r' && c != '\n') out += c;
        }
        return out;
      }
      got += static_cast<char>(b);
    }
    return "(no prompt)";
  }

  // The settings the program's link makes, up to an open bus with the ECU's own header.
  void Open() {
    for (const char* c : {"ATWS", "ATE0", "ATL0", "ATS0", "ATH1", "ATAL", "ATKW0", "ATSP5",
                          "ATSH8110F1", "ATWM8210F13E01", "ATAT1", "ATFI", "ATSH8010F1"}) {
      Command(c);
    }
  }

  VirtualClock clock;
  VirtualEcu ecu;
  VirtualElmPort port;
};

// The K-line frame of a message from the ECU to the tester, as ATH1 ATS0 shows it.
std::string Frame(const std::vector<uint8_t>& message) {
  std::vector<uint8_t> f{static_cast<uint8_t>(0x80 + message.size()), 0xF1, 0x10};
  f.insert(f.end(), message.begin(), message.end());
  uint8_t sum = 0;
  for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
  f.push_back(sum);
  std::string s;
  char b[3];
  for (uint8_t v : f) {
    std::snprintf(b, sizeof b, "%02X", v);
    s += b;
  }
  return s;
}

// One adapter session, command after command: the answers of a genuine chip, and the K-line
// results of the requests the program sends.
TEST(ElmAdapter, AnswersCommandsAndRequestsLikeTheChip) {
  ElmHost h;
  struct Row {
    const char* command;
    std::string answer;
  };
  const Row rows[] = {
      {"ATZ", "ATZ|||ELM327 v1.5"},  // echo is on after a reset
      {"ATE0", "ATE0|OK"},
      {"ATI", "ELM327 v1.5"},
      {"AT@1", "OBDII to RS232 Interpreter"},
      {"at l0", "OK"},  // case and spaces do not matter
      {"ATDP", "AUTO"},
      {"ATSP5", "OK"},
      {"ATDP", "ISO 14230-4 (KWP FAST)"},
      {"ATDPN", "5"},
      {"ATRV", "12.4V"},
      {"ATFOO", "?"},
      {"ATSH 81 10 F1", "OK"},
      {"ATFI", "BUS INIT: ERROR"},  // the key bytes 6B 8F are not OBD's
      {"ATKW0", "OK"},
      {"ATFI", "BUS INIT: OK"},
      {"ATKW", "1:6B 2:8F"},
      {"ATSH 80 10 F1", "OK"},
      {"21 A0", "61 A0 00 A0"},
      {"21 01", "BUFFER FULL"},  // 36 data bytes without ATAL
      {"ATAL", "OK"},
      {"ATS0", "OK"},
      {"ATH1", "OK"},
      {"1A9A", Frame({0x5A, 0x9A, 'K', 'V', 'D', 'S', 'I', 'M', ' ', '1', '.', '0'})},
      {"21A0", Frame({0x61, 0xA0, 0x00, 0xA0})},
      {"3E01", Frame({0x7E})},
      {"1A", Frame({0x7F, 0x1A, 0x12})},
      {"3B A1 30 31 32 33 34 35", Frame({0x7B, 0xA1})},  // 8 data bytes with ATAL
      {"3BA1303132333435FF", "?"},                       // 9 are more than the chip sends
      {"2G01", "?"},
      {"", "?"},  // a bare carriage return repeats the last line
      {"ATPC", "OK"},
      {"21A0", "BUS INIT: OK|" + Frame({0x61, 0xA0, 0x00, 0xA0})},  // a new init at the request
      {"82", Frame({0xC2})},
      {"21A0", "NO DATA"},  // the session has ended
  };
  for (const Row& r : rows) {
    EXPECT_EQ(h.Command(r.command), r.answer) << r.command;
  }
}

// The faults of clones, old chips and the ECU behind the adapter, each on a fresh adapter.
TEST(ElmAdapter, FaultsShowAsTheChipWouldShowThem) {
  using Setup = std::function<void(ElmFaults&, VirtualEcu&)>;
  struct Row {
    const char* name;
    Setup setup;
    bool open;  // the program's settings and an open bus before the setup
    std::vector<const char*> commands;
    std::string lastAnswer;
  };
  const std::string liveA0 = Frame({0x61, 0xA0, 0x00, 0xA0});
  const std::string pending = Frame({0x7F, 0x21, 0x78});
  const Row rows[] = {
      {"clone without ATAL",
       [](ElmFaults& f, VirtualEcu&) { f.refuseAllowLong = true; },
       false,
       {"ATE0", "ATAL"},
       "?"},
      {"clone without ATFI",
       [](ElmFaults& f, VirtualEcu&) { f.refuseFastInit = true; },
       false,
       {"ATE0", "ATSP5", "ATFI"},
       "?"},
      {"clone without protocol 5",
       [](ElmFaults& f, VirtualEcu&) { f.refuseProtocol5 = true; },
       false,
       {"ATE0", "ATSP5"},
       "?"},
      {"old chip: no fast init",
       [](ElmFaults& f, VirtualEcu&) { f.identity = "ELM327 v1.2"; },
       false,
       {"ATE0", "ATSP5", "ATFI"},
       "?"},
      {"old chip: still initialises at a request",
       [](ElmFaults& f, VirtualEcu&) { f.identity = "ELM327 v1.2"; },
       false,
       {"ATE0", "ATH1", "ATS0", "ATKW0", "ATSP5", "ATSH8110F1", "81"},
       "BUS INIT: OK|" + Frame({0xC1, 0x6B, 0x8F})},
      {"oldest chip: no key-word switch",
       [](ElmFaults& f, VirtualEcu&) { f.identity = "ELM327 v1.0"; },
       false,
       {"ATE0", "ATKW0"},
       "?"},
      {"clone prints dots",
       [](ElmFaults& f, VirtualEcu&) { f.initDots = true; },
       false,
       {"ATE0", "ATKW0", "ATSP5", "ATSH8110F1", "ATFI"},
       "BUS INIT: ...OK"},
      {"no ECU",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().unplugged = true; },
       false,
       {"ATE0", "ATKW0", "ATSP5", "ATSH8110F1", "ATFI"},
       "BUS INIT: ERROR"},
      {"no ECU, automatic protocol",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().unplugged = true; },
       false,
       {"ATE0", "ATKW0", "0100"},
       "SEARCHING...|UNABLE TO CONNECT"},
      {"echo lost on the bus",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().lostEchoBytes = 1; },
       true,
       {"21A0"},
       "FB ERROR"},
      {"no answer",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().answerLimit = 0; },
       true,
       {"21A0"},
       "NO DATA"},
      {"bad checksum",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().badChecksum = true; },
       true,
       {"21A0"},
       "84F11061A000A027<DATA ERROR"},
      {"frame without checksum",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().truncated = true; },
       true,
       {"21A0"},
       "84F11061A000A0<DATA ERROR"},
      {"response pending",
       [](ElmFaults&, VirtualEcu& e) { e.Faults().pendingAnswers = 2; },
       true,
       {"21A0"},
       pending + "|" + pending + "|" + liveA0},
      {"answer header 80 target source length",
       [](ElmFaults&, VirtualEcu& e) { e.Settings().answerHeader = AnswerHeader::k80; },
       true,
       {"ATH0", "21A0"},
       "61A000A0"},
      {"answer header 00 length",
       [](ElmFaults&, VirtualEcu& e) { e.Settings().answerHeader = AnswerHeader::k00; },
       true,
       {"ATH0", "21A0"},
       "61A000A0"},
      {"answer header length alone",
       [](ElmFaults&, VirtualEcu& e) { e.Settings().answerHeader = AnswerHeader::kShort; },
       true,
       {"ATH0", "21A0"},
       "61A000A0"},
      {"65 data bytes with ATAL",
       [](ElmFaults&, VirtualEcu&) {},
       true,
       {"ATH0", "2300FD0040"},
       "(65 bytes)"},
  };
  for (const Row& r : rows) {
    ElmHost h;
    if (r.open) h.Open();
    r.setup(h.port.Adapter().Faults(), h.ecu);
    std::string last;
    for (const char* c : r.commands) last = h.Command(c);
    if (r.lastAnswer == "(65 bytes)") {
      EXPECT_EQ(last.size(), 130u) << r.name;
      EXPECT_EQ(last.substr(0, 2), "63") << r.name;
    } else {
      EXPECT_EQ(last, r.lastAnswer) << r.name;
    }
  }
}

// The adapter's own K-line traffic over a quiet spell, a host that does not wait for the
// prompt, and a slow (Bluetooth) link.
TEST(ElmAdapter, WakeupMessagesInterruptionAndDelay) {
  {  // The default wake-up is OBD's functional TesterPresent: it reaches the ECU, which does
     // not answer to it, and the session times out.
    ElmHost h;
    h.Open();
    h.Command("ATWM C1 33 F1 3E");
    ASSERT_TRUE(h.ecu.SessionOpen());
    h.clock.Sleep(7000);
    h.port.PurgePort();
    EXPECT_GE(h.port.Adapter().DefaultWakeupsSent(), 2u);
    EXPECT_EQ(h.ecu.FunctionalHeard(), h.port.Adapter().DefaultWakeupsSent());
    EXPECT_FALSE(h.ecu.SessionOpen());
    EXPECT_EQ(h.Command("21A0"), "NO DATA");
  }
  {  // The ECU's own TesterPresent keeps the session; ATSW 00 stops the messages.
    ElmHost h;
    h.Open();
    h.clock.Sleep(7000);
    h.port.PurgePort();
    EXPECT_GE(h.port.Adapter().WakeupsSent(), 2u);
    EXPECT_EQ(h.port.Adapter().DefaultWakeupsSent(), 0u);
    EXPECT_TRUE(h.ecu.SessionOpen());
    h.Command("ATSW00");
    const uint32_t sent = h.port.Adapter().WakeupsSent();
    h.clock.Sleep(7000);
    h.port.PurgePort();
    EXPECT_EQ(h.port.Adapter().WakeupsSent(), sent);
  }
  {  // A byte before the prompt stops the request; the next one works.
    ElmHost h;
    h.Open();
    const uint8_t request[] = {'2', '1', 'A', '0', '\r'};
    h.port.WriteBytes(sizeof request, request);
    h.clock.Sleep(20);
    const uint8_t stray = 'X';
    h.port.WriteBytes(1, &stray);
    EXPECT_EQ(h.Read(1000), "STOPPED");
    EXPECT_EQ(h.port.Adapter().Interruptions(), 1u);
    EXPECT_EQ(h.Command("21A0"), Frame({0x61, 0xA0, 0x00, 0xA0}));
  }
  {  // Every answer comes later by the delay of the radio link.
    ElmHost h;
    h.Command("ATE0");
    uint64_t t = h.clock.MicrosNow();
    h.Command("ATI");
    const uint64_t direct = h.clock.MicrosNow() - t;
    h.port.Adapter().Faults().answerDelayMs = 120;
    t = h.clock.MicrosNow();
    EXPECT_EQ(h.Command("ATI"), "ELM327 v1.5");
    EXPECT_GE(h.clock.MicrosNow() - t, direct + 120'000);
  }
}

}  // namespace
}  // namespace kvd
