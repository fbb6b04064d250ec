// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli live: the session and poll cycle of the diagnostic window, on the command line.
// Connects to the ECU (or to the virtual ECU), polls live data at the poll interval, prints
// one line per record with the parameters of data set 1, and can save the recording.
#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "data/data_file.h"
#include "data/history.h"
#include "data/parameters.h"
#include "data/text_export.h"
#include "link/clock.h"
#include "link/kwp.h"
#include "link/system_port.h"
#include "session/diag_session.h"
#include "session/poll_settings.h"
#include "session/session_ui.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"

namespace kvdcli {

namespace {

using kvd::AdcTexts;
using kvd::LinkState;
using kvd::SessionMenus;

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int) {
  g_stop = true;
}

// The panes of the default data set 1 ("Набор 1"), as parameter numbers.
constexpr std::array<kvd::ParameterNumber, 7> kSetOne = {2, 1, 3, 5, 14, 7, 10};
constexpr int kValuePrecision = 6;
// The poll interval of the ini file next to the program (as the window reads it), 250 ms when
// there is none. An interval of 0 stops the window's timer; here it would poll nothing, so the
// default is used instead, with a word to the user.
int32_t DefaultIntervalMs() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  if (ec) dir = std::filesystem::current_path(ec);
  const kvd::PollSettings ini = kvd::ReadPollSettingsFile((dir / kvd::kIniFileName).string());
  if (ini.IntervalMs > 0) return ini.IntervalMs;
  std::fprintf(stderr, "kvd-cli live: the ini file's poll interval is 0; polling every %d ms\n",
               kvd::PollSettings{}.IntervalMs);
  return kvd::PollSettings{}.IntervalMs;
}
constexpr int32_t kDefaultSeconds = 10;

void LiveUsage() {
  std::fputs(
      "usage: kvd-cli live [--demo | --port N|PATH] [--seconds N] [--interval MS]\n"
      "                    [--save FILE.kdd]\n"
      "  --demo           the built-in virtual ECU in real time (default)\n"
      "  --port N|PATH    a K-line adapter on COM port N (Linux: /dev/ttyS(N-1)) or a device\n"
      "  --seconds N      how long to poll (default 10)\n"
      "  --interval MS    poll interval in milliseconds (default: kvddiag.ini next to\n"
      "                   the program, else 250)\n"
      "  --save FILE.kdd  save the recording as a diagnostic data file at the end\n"
      "Ctrl+C ends the run early; the session is closed and the recording kept.\n",
      stderr);
}

std::optional<int32_t> ParseInt(const std::string& s, int32_t min, int32_t max) {
  int64_t v = 0;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc() || p != end || v < min || v > max) return std::nullopt;
  return static_cast<int32_t>(v);
}

// The window side of the session on a terminal: messages and link states go to stderr,
// Ctrl+C is the Cancel button of the connect box. The window's menus, the actuator
// panel, the ADC bar and the trouble-code list do not exist here.
class ConsoleUi final : public kvd::SessionUi {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void ShowConnectBox(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool ConnectBoxCancelled() override { return g_stop; }
  void CloseConnectBox() override {}
  void ProcessMessages() override {}
  void ShowLinkState(LinkState, const std::string& text) override {
    if (text == lastState_) return;
    lastState_ = text;
    std::fprintf(stderr, "[%s]\n", text.c_str());
  }
  void ApplyMenus(const SessionMenus&) override {}
  void SetStatusWarning(const std::string& text) override {
    // Blinks in the window; here it is said once per run of wrong answers.
    const bool blank = text.find_first_not_of(' ') == std::string::npos;
    if (!blank && !warned_) std::fprintf(stderr, "%s\n", text.c_str());
    if (!blank) warned_ = true;
  }
  void SetActuatorPanel(bool) override {}
  bool ActuatorControlChecked() override { return false; }
  void ReleaseActuatorControl() override {}
  void RefreshActuator() override {}
  bool AdcShown() override { return false; }
  void ShowAdcValues(const AdcTexts&) override {}
  void TroubleCodesRead(std::span<const uint8_t>, uint32_t) override {}
  void CloseTroubleCodeList() override {}
  void CloseLearnMemory() override {}

 private:
  std::string lastState_;
  bool warned_ = false;
};

}  // namespace

int CmdLive(const Args& args) {
  bool demo = true;
  std::string port;
  int32_t seconds = kDefaultSeconds;
  std::optional<int32_t> intervalOption;
  std::string save;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      LiveUsage();
      return 0;
    } else if (a == "--demo") {
      demo = true;
    } else if (a == "--port" && hasValue) {
      port = args[++i];
      demo = false;
    } else if (a == "--seconds" && hasValue) {
      auto v = ParseInt(args[++i], 1, 7 * 24 * 3600);
      if (!v) {
        std::fprintf(stderr, "kvd-cli live: --seconds wants a whole number from 1 on\n");
        return 2;
      }
      seconds = *v;
    } else if (a == "--interval" && hasValue) {
      auto v = ParseInt(args[++i], 1, 60000);
      if (!v) {
        std::fprintf(stderr, "kvd-cli live: --interval wants milliseconds from 1 to 60000\n");
        return 2;
      }
      intervalOption = *v;
    } else if (a == "--save" && hasValue) {
      save = args[++i];
    } else {
      std::fprintf(stderr, "kvd-cli live: unknown or incomplete option '%s'\n", a.c_str());
      LiveUsage();
      return 2;
    }
  }
  if (!demo && port.empty()) {
    std::fprintf(stderr, "kvd-cli live: --port wants a number or a device path\n");
    return 2;
  }

  const int32_t intervalMs = intervalOption ? *intervalOption : DefaultIntervalMs();

  kvd::RealClock clock;
  std::unique_ptr<kvd::VirtualEcu> ecu;
  std::unique_ptr<kvd::SerialPort> serial;
  if (demo) {
    ecu = std::make_unique<kvd::VirtualEcu>();
    ecu->Engine().SetSchedule(kvd::EngineSchedule::kDemo);  // moves within the first seconds
    serial = std::make_unique<kvd::VirtualLine>(*ecu, clock);
  } else {
    serial = kvd::MakeSystemSerialPort();
  }
  kvd::KwpLink link(*serial, clock);
  std::unique_ptr<kvd::HistoryStore> history;
  try {
    history = std::make_unique<kvd::HistoryStore>(clock);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kvd-cli live: no memory for the recording\n");
    return 1;
  }
  ConsoleUi ui;
  kvd::DiagSession session(link, *history, clock, ui);
  if (demo) {
    session.ComPort = 1;
  } else if (auto n = ParseInt(port, 0, 65535)) {
    session.ComPort = static_cast<uint16_t>(*n);
  } else {
    session.ComDevice = port;
  }

  std::array<kvd::ParameterDescriptor, kSetOne.size()> params;
  std::string head = "time";
  for (size_t i = 0; i < kSetOne.size(); ++i) {
    params[i] = *kvd::LookupParameter(kSetOne[i]);
    head += "\t" + params[i].Name;
  }
  kvd::ElapsedFormatter timeText;
  history->SetAppendCallback([&](int32_t index) {
    const kvd::HistoryRecord* r = history->RecordAt(index);
    if (!r) return;
    std::string line = timeText.Format(r->ElapsedMs());
    for (const auto& d : params)
      line += "\t" + kvd::FormatParameterValue(d, kvd::DecodeValue(d, *r), kValuePrecision, '.');
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  history->SetFullCallback(
      [] { std::fprintf(stderr, "kvd-cli live: the recording is full; recording stopped\n"); });

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);

  if (demo) std::fprintf(stderr, "Virtual ECU on a virtual K-line (real time)\n");
  session.FormShow();
  session.PollEnabled = true;  // as the window leaves it: the first tick connects
  session.PollStep();
  if (!session.Connected) {
    session.FormClose();
    return 1;
  }
  std::printf("%s\n", head.c_str());

  const uint32_t start = clock.TickCount();
  uint32_t next = start;
  const uint32_t limitMs = static_cast<uint32_t>(seconds) * 1000u;
  bool lost = false;
  while (!g_stop && clock.TickCount() - start < limitMs) {
    session.PollStep();
    if (!session.Connected) {
      lost = true;  // the message has been shown; the session is closed
      break;
    }
    next += static_cast<uint32_t>(intervalMs);
    const uint32_t now = clock.TickCount();
    // A step that took longer than the interval is not made up for, like the window timer.
    if (static_cast<int32_t>(next - now) <= 0) {
      next = now;
      continue;
    }
    // Sleep in short slices so that Ctrl+C ends the wait at once.
    while (!g_stop && static_cast<int32_t>(next - clock.TickCount()) > 0)
      clock.Sleep(std::min<uint32_t>(50, next - clock.TickCount()));
  }
  const uint32_t elapsedMs = clock.TickCount() - start;
  session.FormClose();  // StopDiagnosticSession, StopCommunication, port closed

  int rc = lost ? 1 : 0;
  if (!save.empty()) {
    try {
      kvd::WriteDataFile(PathOf(save), *history, history->AllRecords());
      std::fprintf(stderr, "saved %d records to %s\n", history->RecordCount(), save.c_str());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      rc = 1;
    }
  }
  const double s = elapsedMs / 1000.0;
  std::printf("%d records in %.1f s (%.2f records/s)\n", history->RecordCount(), s,
              s > 0 ? history->RecordCount() / s : 0.0);
  return rc;
}

}  // namespace kvdcli
