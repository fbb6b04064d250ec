// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-ecu-sim: the virtual J5E2 ECU on a pseudo-terminal or a serial device (a COM port on
// Windows), so that the program's real serial back-end, or any other K-line tool, can talk to it.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "link/clock.h"
#include "sim/ecu_sim_options.h"
#include "sim/virtual_ecu.h"

#ifndef KVD_VERSION
#define KVD_VERSION "unknown"
#endif

#include "sim/elm_server.h"
#include "sim/line_server.h"
#include "sim/virtual_elm.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_togglePlug{false};
void OnSignal(int) {
  g_stop.store(true);
}
#ifndef _WIN32
void OnToggle(int) {
  g_togglePlug.store(true);
}
#endif

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X ", v);
    s += b;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

void InstallSignals() {
#ifdef _WIN32
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGBREAK, OnSignal);
#else
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  struct sigaction toggle {};
  toggle.sa_handler = OnToggle;
  sigemptyset(&toggle.sa_mask);
  sigaction(SIGUSR1, &toggle, nullptr);
  signal(SIGPIPE, SIG_IGN);
#endif
}

void TogglePlugOnSignal(kvd::VirtualEcu& ecu) {
  if (g_togglePlug.exchange(false)) {
    ecu.Faults().unplugged = !ecu.Faults().unplugged;
    std::fprintf(stderr, "kvd-ecu-sim: line %s\n",
                 ecu.Faults().unplugged ? "unplugged" : "plugged in again");
  }
}

// Line ends shown as \r and \n in the log.
std::string Visible(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c == '\r') {
      s += "\\r";
    } else if (c == '\n') {
      s += "\\n";
    } else {
      s += c;
    }
  }
  return s;
}

// The adapter in front of the ECU, on a pseudo-terminal or 127.0.0.1.
int ServeAdapter(const kvd::EcuSimOptions& options, kvd::VirtualEcu& ecu, kvd::Clock& clock) {
  // The adapter's default wake-up is OBD's functional TesterPresent, which this ECU family
  // does not listen to: heard (and counted), never answered.
  ecu.Settings().answerFunctional = false;
  ecu.Settings().wakeup = kvd::WakeupMode::kBreak;  // the adapter makes a real fast init
  kvd::VirtualElm327 adapter(ecu, options.elm);
  if (options.verbose) {
    adapter.OnEvent = [&adapter](const kvd::ElmEvent& e) {
      const char* who = nullptr;
      switch (e.kind) {
        case kvd::ElmEvent::Kind::kCommand:
          who = "host  ";
          break;
        case kvd::ElmEvent::Kind::kAnswer:
          who = "elm   ";
          break;
        case kvd::ElmEvent::Kind::kNote:
          who = "elm   ";
          break;
        case kvd::ElmEvent::Kind::kFrameSent:
          // The ECU logs what it hears; only the adapter's wake-up messages are told apart.
          if (adapter.Busy()) return;
          std::fprintf(stderr,
                       "[%10.3f] elm    wake-up %s (%u sent, %u with OBD's functional "
                       "header)\n",
                       static_cast<double>(e.atUs) / 1e6, Hex(e.frame).c_str(),
                       adapter.WakeupsSent(), adapter.DefaultWakeupsSent());
          return;
        default:
          return;
      }
      std::fprintf(stderr, "[%10.3f] %s %s\n", static_cast<double>(e.atUs) / 1e6, who,
                   Visible(e.text).c_str());
    };
  }
  kvd::ElmServer server(adapter, clock);
  std::string error;
  const bool opened = options.tcpPort >= 0
                          ? server.ListenTcp(static_cast<uint16_t>(options.tcpPort), error)
                          : server.OpenPseudoTerminal(error);
  if (!opened) {
    std::fprintf(stderr, "kvd-ecu-sim: %s\n", error.c_str());
    return 1;
  }
  InstallSignals();
  server.SetLoopHook([&ecu] { TogglePlugOnSignal(ecu); });
  if (options.verbose) {
    server.OnHost = [](bool connected) {
      std::fprintf(stderr, "kvd-ecu-sim: host %s\n", connected ? "connected" : "gone");
    };
  }
  std::printf("%s\n", server.HostPath().c_str());
  std::fflush(stdout);
  if (options.verbose) {
    std::fprintf(stderr, "kvd-ecu-sim: %s on %s at %u baud (P2 %u ms)\n",
                 options.elm.faults.identity.c_str(), server.HostPath().c_str(),
                 options.elm.hostBaud, options.settings.p2Ms);
  }
  const int rc = server.Run(g_stop, error);
  if (rc != 0) std::fprintf(stderr, "kvd-ecu-sim: %s\n", error.c_str());
  if (options.verbose) {
    std::fprintf(stderr,
                 "kvd-ecu-sim: stopped; %u wake-up messages, %u with OBD's functional header, "
                 "%u functional frames heard by the ECU\n",
                 adapter.WakeupsSent(), adapter.DefaultWakeupsSent(), ecu.FunctionalHeard());
  }
  return rc;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kvd::EcuSimOptions options;
  std::string error;
  if (!kvd::ParseEcuSimOptions(args, options, error)) {
    std::fprintf(stderr, "kvd-ecu-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(kvd::EcuSimUsage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("kvd-ecu-sim %s\n", KVD_VERSION);
    return 0;
  }
  kvd::RealClock clock;
  kvd::VirtualEcu ecu(options.settings, options.seed);
  ecu.Faults() = options.faults;
  ecu.Engine().SetSchedule(options.schedule);
  if (options.verbose) {
    ecu.OnFrame = [](const kvd::EcuFrameEvent& e) {
      std::fprintf(stderr, "[%10.3f] %s %-47s %s\n", static_cast<double>(e.atUs) / 1e6,
                   e.fromTester ? "tester" : "ecu   ", Hex(e.frame).c_str(), e.note.c_str());
    };
  }
  if (options.elm327) return ServeAdapter(options, ecu, clock);
  kvd::EcuLineServer server(ecu, clock, options.echo);
  const bool opened = options.device.empty() ? server.OpenPseudoTerminal(error)
                                             : server.OpenDevice(options.device, error);
  if (!opened) {
    std::fprintf(stderr, "kvd-ecu-sim: %s\n", error.c_str());
    return 1;
  }
  InstallSignals();
  server.SetLoopHook([&ecu] { TogglePlugOnSignal(ecu); });

  std::printf("%s\n", server.TesterPath().c_str());
  std::fflush(stdout);
  if (options.verbose) {
    std::fprintf(stderr, "kvd-ecu-sim: serving on %s (P2 %u ms)\n", server.TesterPath().c_str(),
                 options.settings.p2Ms);
  }
  const int rc = server.Run(g_stop, error);
  if (rc != 0) std::fprintf(stderr, "kvd-ecu-sim: %s\n", error.c_str());
  if (options.verbose) std::fprintf(stderr, "kvd-ecu-sim: stopped\n");
  return rc;
}
