// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ecu_sim_options.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <utility>

namespace kvd {

namespace {

bool ParseUnsigned(std::string_view text, int base, uint64_t max, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  out = v;
  return true;
}

// SID[:ID][=CODE], all hexadecimal.
bool ParseRefusal(std::string_view text, EcuFaults& f) {
  std::string_view code;
  const size_t eq = text.find('=');
  if (eq != std::string_view::npos) {
    code = text.substr(eq + 1);
    text = text.substr(0, eq);
  }
  std::string_view id;
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    id = text.substr(colon + 1);
    text = text.substr(0, colon);
  }
  uint64_t sid = 0, idValue = 0, codeValue = 0x22;
  if (!ParseUnsigned(text, 16, 0xFF, sid)) return false;
  if (colon != std::string_view::npos && !ParseUnsigned(id, 16, 0xFF, idValue)) return false;
  if (eq != std::string_view::npos && !ParseUnsigned(code, 16, 0xFF, codeValue)) return false;
  f.refuseService = static_cast<int32_t>(sid);
  f.refuseId = colon == std::string_view::npos ? -1 : static_cast<int32_t>(idValue);
  f.refuseCode = static_cast<uint8_t>(codeValue);
  return true;
}

// CODE[,CODE...], hexadecimal, at most 255 codes.
bool ParseCodeList(std::string_view text, std::vector<uint16_t>& out) {
  std::vector<uint16_t> codes;
  while (true) {
    const size_t comma = text.find(',');
    uint64_t code = 0;
    if (!ParseUnsigned(text.substr(0, comma), 16, 0xFFFF, code) || codes.size() == 255)
      return false;
    codes.push_back(static_cast<uint16_t>(code));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  out = std::move(codes);
  return true;
}

bool ParseAnswerHeader(std::string_view text, AnswerHeader& out) {
  static constexpr std::pair<std::string_view, AnswerHeader> kForms[] = {
      {"addr", AnswerHeader::kAddress},  {"80", AnswerHeader::k80},
      {"00", AnswerHeader::k00},         {"short", AnswerHeader::kShort},
      {"rotate", AnswerHeader::kRotate},
  };
  for (const auto& [name, form] : kForms) {
    if (text == name) {
      out = form;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string EcuSimUsage() {
  return "Usage: kvd-ecu-sim [options]\n"
         "Serves a virtual J5E2 engine control unit on a new pseudo-terminal (its path is\n"
         "printed on the first line of output) or on a serial device.\n"
         "\n"
         "  --device PATH          serve on this serial device instead of a pseudo-terminal\n"
         "  --no-echo              do not echo the tester's bytes (the line echoes by itself)\n"
         "  --p2 MS                delay before each answer, 0..2000 (default 25)\n"
         "  --p3 MS                session ends after this long without a request (default 5000)\n"
         "  --seed N               seed of the engine model (default 1)\n"
         "  --demo-schedule        the engine's demonstration timing: a throttle blip a few\n"
         "                         seconds after the start, the first drive at about 12 s\n"
         "  --header-form FORM     header of the answers: addr (80+L, target, source; the\n"
         "                         default), 80 (80, target, source, L), 00 (00, L), short\n"
         "                         (L alone), rotate (the four in turn)\n"
         "  -v, --verbose          log every frame to standard error\n"
         "  -h, --help             show this text\n"
         "  --version              show the program's version\n"
         "\n"
         "ELM327 adapter:\n"
         "  --adapter elm327       serve a virtual ELM327 adapter in front of the ECU: AT\n"
         "                         commands and hex text at 38400 baud on the pseudo-terminal\n"
         "  --tcp PORT             ... on 127.0.0.1:PORT instead, as a Wi-Fi adapter (0: a free\n"
         "                         port); the first line of output is then 127.0.0.1:PORT\n"
         "  --elm-id TEXT          identity printed by ATZ and ATI (default \"ELM327 v1.5\");\n"
         "                         before v1.4 there is no ATFI, before v1.2 no ATKW0\n"
         "  --elm-no-al            a clone that answers ? to ATAL\n"
         "  --elm-no-fi            a clone that answers ? to ATFI\n"
         "  --elm-no-sp5           a clone that answers ? to ATSP5\n"
         "  --elm-dots             a clone that prints BUS INIT: ...OK for a fast init\n"
         "  --elm-delay MS         every answer comes this much later, 0..5000 (Bluetooth)\n"
         "  --elm-baud N           the adapter's serial rate, 1200..2000000 (default 38400)\n"
         "\n"
         "Faults:\n"
         "  --unplugged            no echo and no answer at all\n"
         "  --stop-after N         answers stop after N frames\n"
         "  --bad-checksum         answers carry a wrong checksum\n"
         "  --truncate             answers lose their last byte\n"
         "  --busy K               K busy answers (7F sid 21) before each real one\n"
         "  --pending K            K pending answers (7F sid 78) before each real one\n"
         "  --pending-only         the real answer never follows the pending ones\n"
         "  --pull-plug-after N    the next answer breaks off after N bytes, then the line is\n"
         "                         dead (as --unplugged) until SIGUSR1 puts the plug back\n"
         "  --garble               one byte of every answer arrives garbled\n"
         "  --wrong-key            StartCommunication answered C1 EF 8F\n"
         "  --short-live-data      live data answered with 35 bytes\n"
         "  --short-memory-read    memory reads answered with half the bytes asked for\n"
         "  --wrong-service        positive answers carry another service byte\n"
         "  --refuse SID[:ID][=CODE]  refuse a service (hex), optionally only one identifier,\n"
         "                         with a response code (default 22; 00 = no answer)\n"
         "  --noise N              N noise bytes on the line when a tester opens it and after\n"
         "                         each session (stopped, reset or timed out)\n"
         "  --dtcs CODE[,CODE...]  trouble codes read reports these (hex, 0000 allowed)\n"
         "  --dtc-count N          trouble codes read carries this count byte, 0..255\n"
         "  --flags HHHH           configuration flags, live-data bytes 2 and 3 (hex, default "
         "AB5E)\n"
         "  --immo HH              immobilizer status byte of 21 A0 (hex, default A0)\n"
         "\n"
         "Signals: SIGUSR1 pulls the plug or puts it back; SIGINT and SIGTERM stop the server.\n";
}

bool ParseEcuSimOptions(const std::vector<std::string>& args, EcuSimOptions& out,
                        std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    auto number = [&](uint64_t max, uint64_t& v) {
      std::string text;
      if (!value(text)) return false;
      if (!ParseUnsigned(text, 10, max, v)) {
        error = "option " + a + ": '" + text + "' is not a number in 0.." + std::to_string(max);
        return false;
      }
      return true;
    };
    uint64_t n = 0;
    if (a == "-h" || a == "--help") {
      out.help = true;
    } else if (a == "--version") {
      out.version = true;
    } else if (a == "-v" || a == "--verbose") {
      out.verbose = true;
    } else if (a == "--device") {
      if (!value(out.device)) return false;
      if (out.device.empty()) {
        error = "option --device needs a path";
        return false;
      }
    } else if (a == "--no-echo") {
      out.echo = false;
    } else if (a == "--p2") {
      if (!number(2000, n)) return false;
      out.settings.p2Ms = static_cast<uint32_t>(n);
    } else if (a == "--p3") {
      if (!number(600000, n)) return false;
      if (n < 100) {
        error = "option --p3: at least 100 ms";
        return false;
      }
      out.settings.p3MaxMs = static_cast<uint32_t>(n);
    } else if (a == "--seed") {
      if (!number(0xFFFFFFFF, n)) return false;
      out.seed = static_cast<uint32_t>(n);
    } else if (a == "--header-form") {
      std::string text;
      if (!value(text)) return false;
      if (!ParseAnswerHeader(text, out.settings.answerHeader)) {
        error = "option --header-form: '" + text + "' is not addr, 80, 00, short or rotate";
        return false;
      }
    } else if (a == "--demo-schedule") {
      out.schedule = EngineSchedule::kDemo;
    } else if (a == "--unplugged") {
      out.faults.unplugged = true;
    } else if (a == "--stop-after") {
      if (!number(0x7FFFFFFF, n)) return false;
      out.faults.answerLimit = static_cast<int32_t>(n);
    } else if (a == "--bad-checksum") {
      out.faults.badChecksum = true;
    } else if (a == "--truncate") {
      out.faults.truncated = true;
    } else if (a == "--busy") {
      if (!number(255, n)) return false;
      out.faults.busyAnswers = static_cast<uint32_t>(n);
    } else if (a == "--pending") {
      if (!number(255, n)) return false;
      out.faults.pendingAnswers = static_cast<uint32_t>(n);
    } else if (a == "--pending-only") {
      out.faults.pendingOnly = true;
    } else if (a == "--pull-plug-after") {
      if (!number(260, n)) return false;
      out.faults.pullPlugAfterBytes = static_cast<int32_t>(n);
    } else if (a == "--garble") {
      out.faults.noisyAnswers = true;
    } else if (a == "--wrong-key") {
      out.faults.wrongKeyBytes = true;
    } else if (a == "--short-live-data") {
      out.faults.shortLiveData = true;
    } else if (a == "--short-memory-read") {
      out.faults.shortMemRead = true;
    } else if (a == "--wrong-service") {
      out.faults.wrongService = true;
    } else if (a == "--refuse") {
      std::string text;
      if (!value(text)) return false;
      if (!ParseRefusal(text, out.faults)) {
        error = "option --refuse: '" + text + "' is not SID[:ID][=CODE] in hexadecimal";
        return false;
      }
    } else if (a == "--noise") {
      if (!number(100000, n)) return false;
      out.faults.noiseBytes = static_cast<uint32_t>(n);
    } else if (a == "--dtcs") {
      std::string text;
      if (!value(text)) return false;
      if (!ParseCodeList(text, out.faults.dtcAnswerCodes)) {
        error = "option --dtcs: '" + text + "' is not a list of hexadecimal codes 0..FFFF";
        return false;
      }
    } else if (a == "--dtc-count") {
      if (!number(255, n)) return false;
      out.faults.dtcCountByte = static_cast<int32_t>(n);
    } else if (a == "--flags" || a == "--immo") {
      const bool flags = a == "--flags";
      std::string text;
      if (!value(text)) return false;
      if (text.size() != (flags ? 4u : 2u) || !ParseUnsigned(text, 16, 0xFFFF, n)) {
        error = "option " + a + ": '" + text + "' is not " + (flags ? "HHHH" : "HH") +
                " in hexadecimal";
        return false;
      }
      if (flags) {
        out.settings.configFlags = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
      } else {
        out.settings.immoStatus = static_cast<uint8_t>(n);
      }
    } else if (a == "--adapter") {
      std::string text;
      if (!value(text)) return false;
      if (text != "elm327") {
        error = "option --adapter: '" + text + "' is not elm327";
        return false;
      }
      out.elm327 = true;
    } else if (a == "--tcp") {
      if (!number(65535, n)) return false;
      out.tcpPort = static_cast<int32_t>(n);
    } else if (a == "--elm-id") {
      std::string text;
      if (!value(text)) return false;
      const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
      });
      if (text.empty() || text.size() > 40 || !printable) {
        error = "option --elm-id: 1 to 40 printable ASCII characters";
        return false;
      }
      out.elm.faults.identity = text;
    } else if (a == "--elm-no-al") {
      out.elm.faults.refuseAllowLong = true;
    } else if (a == "--elm-no-fi") {
      out.elm.faults.refuseFastInit = true;
    } else if (a == "--elm-no-sp5") {
      out.elm.faults.refuseProtocol5 = true;
    } else if (a == "--elm-dots") {
      out.elm.faults.initDots = true;
    } else if (a == "--elm-delay") {
      if (!number(5000, n)) return false;
      out.elm.faults.answerDelayMs = static_cast<uint32_t>(n);
    } else if (a == "--elm-baud") {
      if (!number(2'000'000, n)) return false;
      if (n < 1200) {
        error = "option --elm-baud: at least 1200";
        return false;
      }
      out.elm.hostBaud = static_cast<uint32_t>(n);
    } else {
      error = "unknown option '" + a + "' (see --help)";
      return false;
    }
  }
  const bool elmOnly = out.tcpPort >= 0 || out.elm.hostBaud != kElmDefaultBaud ||
                       out.elm.faults.answerDelayMs != 0 || out.elm.faults.refuseAllowLong ||
                       out.elm.faults.refuseFastInit || out.elm.faults.refuseProtocol5 ||
                       out.elm.faults.initDots || out.elm.faults.identity != kElmDefaultIdentity;
  if (elmOnly && !out.elm327) {
    error = "options --tcp and --elm-... need --adapter elm327";
    return false;
  }
  if (out.elm327 && !out.device.empty()) {
    error = "option --device serves a bare K-line, not --adapter elm327";
    return false;
  }
  return true;
}

}  // namespace kvd
