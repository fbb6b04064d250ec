// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli live: the session and poll cycle of the diagnostic window, on the command line.
// Connects to the ECU (or to the virtual ECU), polls live data at the poll interval, prints
// one line per record with the parameters of data set 1, and can save the recording.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "data/data_file.h"
#include "data/history.h"
#include "data/parameters.h"
#include "data/recording_file.h"
#include "data/text_export.h"
#include "ecu_connection.h"
#include "link/clock.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "session/ini_location.h"
#include "session/poll_settings.h"
#include "session/program_folder.h"

namespace kvdcli {

namespace {

// The panes of the default data set 1 ("Набор 1"), as parameter numbers.
constexpr std::array<kvd::ParameterNumber, 7> kSetOne = {2, 1, 3, 5, 14, 7, 10};
constexpr int kValuePrecision = 6;
// The poll interval of the ini file next to the program (for an installed program, else the
// system's in /etc/kvd-diag), as the window reads it; 250 ms when
// there is none. An interval of 0 stops the window's timer; here it would poll nothing, so the
// default is used instead, with a word to the user.
int32_t DefaultIntervalMs() {
  const kvd::PollSettings ini =
      kvd::ReadPollSettingsFile(kvd::FindIniFileForProgram(kvd::ProgramFolder()));
  if (ini.IntervalMs > 0) return ini.IntervalMs;
  std::fprintf(stderr, "kvd-cli live: the ini file's poll interval is 0; polling every %d ms\n",
               kvd::PollSettings{}.IntervalMs);
  return kvd::PollSettings{}.IntervalMs;
}
constexpr int32_t kDefaultSeconds = 10;

struct LiveOptions {
  PortOptions port;
  int32_t seconds = kDefaultSeconds;
  std::optional<int32_t> intervalMs;
  std::string save;
};

// The file of --save, written as the recording goes: the head first, every record appended and
// handed to the system at once, synced to disk at most once a second. A file that existed
// before is replaced only at the end, by a temporary file renamed over it; a new file is
// written in place. A killed run leaves a valid data file with every record written so far.
class LiveSaveFile {
 public:
  // False, with the program's message shown, when the file cannot be created.
  bool Create(const std::filesystem::path& target) {
    target_ = target;
    std::error_code ec;
    replacing_ = std::filesystem::exists(target, ec);
    const std::filesystem::path path = replacing_ ? kvd::TemporaryNameBeside(target) : target;
    // Only a plain file is replaced: a folder or a device at the name would fail at the end.
    if ((replacing_ && !std::filesystem::is_regular_file(target, ec)) || !file_.Create(path)) {
      std::fprintf(stderr, "%s\n", kvd::FileMessage(kvd::kMsgFileCreateFailed, target).c_str());
      return false;
    }
    return true;
  }
  void Append(const kvd::HistoryRecord& record) {
    if (file_.Append(record.Bytes) || reported_) return;
    reported_ = true;
    std::fprintf(stderr, "%s\n", kvd::FileMessage(kvd::kMsgFileWriteFailed, target_).c_str());
  }
  // The run ends without a recording (no connection): nothing is left behind.
  void Abandon() { file_.Remove(); }
  // The run has ended: the file is synced and, when it replaces an existing one, renamed over
  // it. False on failure; the file then keeps every record it could take (its name is shown).
  bool Finish() {
    bool ok = file_.Close();
    if (ok && replacing_) ok = kvd::ReplaceDurably(file_.Path(), target_);
    if (!ok) {
      std::fprintf(stderr, "%s\n", kvd::FileMessage(kvd::kMsgFileWriteFailed, target_).c_str());
      if (replacing_)
        std::fprintf(stderr, "kvd-cli live: %d records are kept in %s\n", file_.Records(),
                     kvd::PathText(file_.Path()).c_str());
    }
    return ok;
  }
  int32_t Records() const { return file_.Records(); }

 private:
  std::filesystem::path target_;
  bool replacing_ = false;
  bool reported_ = false;
  kvd::RecordingFile file_;
};

int RunLive(const LiveOptions& options) {
  const int32_t intervalMs = options.intervalMs ? *options.intervalMs : DefaultIntervalMs();
  std::unique_ptr<EcuConnection> connection;
  try {
    connection = std::make_unique<EcuConnection>(options.port);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kvd-cli live: no memory for the recording\n");
    return 1;
  }
  kvd::DiagSession& session = connection->Session();
  kvd::HistoryStore* history = &connection->History();
  kvd::Clock& clock = connection->Clock();

  std::array<kvd::ParameterDescriptor, kSetOne.size()> params;
  std::string head = "time";
  for (size_t i = 0; i < kSetOne.size(); ++i) {
    params[i] = *kvd::LookupParameter(kSetOne[i]);
    head += "\t" + params[i].Name;
  }
  std::optional<LiveSaveFile> saveFile;
  if (!options.save.empty()) {
    saveFile.emplace();
    if (!saveFile->Create(PathOf(options.save))) return 1;
  }
  kvd::ElapsedFormatter timeText;
  history->SetAppendCallback([&](int32_t index) {
    const kvd::HistoryRecord* r = history->RecordAt(index);
    if (!r) return;
    // The record is in the file before its line is printed.
    if (saveFile) saveFile->Append(*r);
    std::string line = timeText.Format(r->ElapsedMs());
    for (const auto& d : params)
      line += "\t" + kvd::FormatParameterValue(d, kvd::DecodeValue(d, *r), kValuePrecision, '.');
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  history->SetFullCallback(
      [] { std::fprintf(stderr, "kvd-cli live: the recording is full; recording stopped\n"); });

  if (!connection->Open()) {
    if (saveFile) saveFile->Abandon();
    return 1;
  }
  std::printf("%s\n", head.c_str());

  const uint32_t start = clock.TickCount();
  uint32_t next = start;
  const uint32_t limitMs = static_cast<uint32_t>(options.seconds) * 1000u;
  bool lost = false;
  while (!g_interrupted && clock.TickCount() - start < limitMs) {
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
    while (!g_interrupted && static_cast<int32_t>(next - clock.TickCount()) > 0)
      clock.Sleep(std::min<uint32_t>(50, next - clock.TickCount()));
  }
  const uint32_t elapsedMs = clock.TickCount() - start;
  connection->Close();  // StopDiagnosticSession, StopCommunication, port closed

  int rc = lost ? 1 : 0;
  if (saveFile) {
    if (saveFile->Finish())
      std::fprintf(stderr, "saved %d records to %s\n", saveFile->Records(), options.save.c_str());
    else
      rc = 1;
  }
  const double s = elapsedMs / 1000.0;
  std::printf("%d records in %.1f s (%.2f records/s)\n", history->RecordCount(), s,
              s > 0 ? history->RecordCount() / s : 0.0);
  return rc;
}

}  // namespace

void AddLiveCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand(
      "live",
      "live data of an ECU (or of the virtual ECU); Ctrl+C ends the run early, the "
      "session is closed and the recording kept");
  auto o = std::make_shared<LiveOptions>();
  AddPortOptions(*cmd, o->port, /*demoByDefault=*/true);
  cmd->add_option("--seconds", o->seconds, "how long to poll (default 10)")
      ->check(CLI::Range(1, 7 * 24 * 3600));
  cmd->add_option("--interval", o->intervalMs,
                  "poll interval in milliseconds (default: kvddiag.ini next to the program, "
                  "else 250)")
      ->type_name("MS")
      ->check(CLI::Range(1, 60000));
  cmd->add_option("--save", o->save,
                  "save the recording as a diagnostic data file, written as it goes (an existing "
                  "file is replaced at the end)")
      ->type_name("FILE.kdd");
  cmd->callback([o, &rc] { rc = RunLive(*o); });
}

}  // namespace kvdcli
