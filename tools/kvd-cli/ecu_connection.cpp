// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli's session with an ECU: options, the terminal's side of it, opening and closing.
#include "ecu_connection.h"

#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "commands.h"
#include "data/history.h"
#include "link/clock.h"
#include "link/elm_link.h"
#include "link/elm_port.h"
#include "link/frame_trace.h"
#include "link/kwp.h"
#include "link/system_port.h"
#include "session/diag_session.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_elm.h"
#include "sim/virtual_line.h"

namespace kvdcli {

std::atomic<bool> g_interrupted{false};

namespace {

extern "C" void OnInterrupt(int) {
  g_interrupted = true;
}

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

}  // namespace

void AddPortOptions(CLI::App& command, PortOptions& options, bool demoByDefault) {
  CLI::Option* demo =
      command
          .add_option("--demo", options.demoAdapter,
                      demoByDefault ? "the built-in virtual ECU in real time (the default); "
                                      "--demo elm327: behind a virtual ELM327 adapter"
                                    : "the built-in virtual ECU in real time; --demo elm327: "
                                      "behind a virtual ELM327 adapter")
          ->expected(0, 1)
          ->type_name("[elm327]")
          ->check(CLI::IsMember({"elm327"}));
  CLI::Option* port = command.add_option(
      "--port", options.port,
      "a K-line adapter on COM port N (Linux: /dev/ttyS(N-1)) or a device; an ELM327 as "
      "elm:N, elm:PATH[@BAUD] (38400 by default) or elm:tcp:HOST:PORT");
  port->type_name("N|PATH|elm:...");
  demo->excludes(port);
  command
      .add_option("--trace", options.trace,
                  "write every frame sent and received, breaks, time-outs and result codes to "
                  "FILE as they happen (plain text, one line each)")
      ->type_name("FILE");
  // Without either option the connection takes the virtual ECU (see EcuConnection); where that
  // is not wanted, one of them is required, checked before the command's own callback runs.
  command.parse_complete_callback([&options, demo, demoByDefault] {
    options.demo = demo->count() > 0;
    if (!demoByDefault && !options.demo && options.port.empty())
      throw CLI::RequiredError("--demo or --port");
    if (kvd::IsElmPortText(options.port) && !kvd::ParseElmPortText(options.port)) {
      throw CLI::ValidationError("--port", "not an ELM327 port: " + options.port +
                                               " (elm:N, elm:PATH[@BAUD] or elm:tcp:HOST:PORT)");
    }
  });
}

void AddYesOption(CLI::App& command, PortOptions& options) {
  command.add_flag("--yes,-y", options.yes, "answer the question Yes without asking");
}

// ---------------------------------------------------------------------------------------
// ConsoleUi

void ConsoleUi::ShowMessage(const std::string& text) {
  ++messages_;
  std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleUi::ShowConnectBox(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleUi::ShowLinkState(kvd::LinkState, const std::string& text) {
  if (text == lastState_) return;
  lastState_ = text;
  std::fprintf(stderr, "[%s]\n", text.c_str());
}

void ConsoleUi::SetStatusWarning(const std::string& text) {
  // Blinks in the window; here it is said once per run of wrong answers.
  const bool blank = text.find_first_not_of(' ') == std::string::npos;
  if (!blank && !warned_) std::fprintf(stderr, "%s\n", text.c_str());
  if (!blank) warned_ = true;
}

bool ConsoleUi::Confirm(const std::string& question) {
  if (assumeYes_) return true;
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "%s\nNo answer without a terminal: nothing done (--yes answers Yes).\n",
                 question.c_str());
    return false;
  }
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "да" ||
         answer == "Да";
}

void ConsoleUi::ShowBusyNotice(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

// ---------------------------------------------------------------------------------------
// EcuConnection

EcuConnection::EcuConnection(const PortOptions& options)
    : demo_(options.demo || options.port.empty()),
      ui_(options.yes),
      clock_(std::make_unique<kvd::RealClock>()) {
  demoElm_ = demo_ && options.demoAdapter == "elm327";
  const bool demoElm = demoElm_;
  const std::optional<kvd::ElmTarget> elm =
      demo_ ? std::nullopt : kvd::ParseElmPortText(options.port);
  if (demo_) {
    ecu_ = std::make_unique<kvd::VirtualEcu>();
    ecu_->Engine().SetSchedule(kvd::EngineSchedule::kDemo);  // moves within the first seconds
  }
  if (demoElm) {
    serial_ = std::make_unique<kvd::VirtualElmPort>(*ecu_, *clock_);
    link_ = std::make_unique<kvd::ElmLink>(*serial_, *clock_);
  } else if (demo_) {
    serial_ = std::make_unique<kvd::VirtualLine>(*ecu_, *clock_);
    link_ = std::make_unique<kvd::KwpLink>(*serial_, *clock_);
  } else if (elm) {
    serial_ = kvd::MakeElmPort(*elm);
    link_ = std::make_unique<kvd::ElmLink>(*serial_, *clock_, elm->baudRate);
  } else {
    serial_ = kvd::MakeSystemSerialPort();
    link_ = std::make_unique<kvd::KwpLink>(*serial_, *clock_);
  }
  if (!options.trace.empty()) {
    std::string error;
    trace_ = kvd::FrameTrace::OpenFile(PathOf(options.trace), *clock_, "kvd-cli", error);
    if (!trace_) throw std::runtime_error("cannot write the trace " + options.trace + ": " + error);
    trace_->Comment(demoElm ? std::string("port: the virtual ECU behind a virtual ELM327 (--demo)")
                    : demo_ ? std::string("port: the virtual ECU (--demo)")
                            : "port: " + options.port);
    link_->SetTrace(trace_.get());
  }
  history_ = std::make_unique<kvd::HistoryStore>(*clock_);
  session_ = std::make_unique<kvd::DiagSession>(*link_, *history_, *clock_, ui_);
  if (demo_) {
    session_->ComPort = 1;
  } else if (elm) {
    if (elm->kind == kvd::ElmTarget::Kind::ComNumber)
      session_->ComPort = elm->number;
    else
      session_->ComDevice = elm->device;
  } else {
    uint32_t n = 0;
    const char* end = options.port.data() + options.port.size();
    auto [p, ec] = std::from_chars(options.port.data(), end, n);
    if (ec == std::errc() && p == end && n <= 65535)
      session_->ComPort = static_cast<uint16_t>(n);
    else
      session_->ComDevice = options.port;
  }
}

EcuConnection::~EcuConnection() {
  Close();
}

bool EcuConnection::Open() {
  InstallInterruptHandler();  // Ctrl+C is the connect box's Cancel and ends a run early
  if (demo_) {
    std::fprintf(stderr, demoElm_ ? "Virtual ECU behind a virtual ELM327 (real time)\n"
                                  : "Virtual ECU on a virtual K-line (real time)\n");
  }
  session_->FormShow();
  open_ = true;
  if (!session_->Connect()) return false;
  if (const std::string info = link_->AdapterInfo(); !info.empty())
    std::fprintf(stderr, "Adapter: %s\n", info.c_str());
  return true;
}

void EcuConnection::Close() {
  if (!open_) return;
  open_ = false;
  session_->FormClose();  // StopDiagnosticSession, StopCommunication, port closed
}

}  // namespace kvdcli
