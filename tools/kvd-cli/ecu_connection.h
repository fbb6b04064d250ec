// kvd-cli's side of a session with an ECU: the --demo / --port options, the terminal in the
// role of the window (messages, questions, the connect box's Cancel as Ctrl+C), and a session
// that is opened for one command and closed again when the command ends.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>
#include <memory>
#include <string>

#include "ecu/ecu_ui.h"
#include "session/session_ui.h"

namespace kvd {
class Clock;
class DiagSession;
class FrameTrace;
class HistoryStore;
class EcuLink;
class SerialPort;
class VirtualEcu;
}  // namespace kvd

namespace kvdcli {

// Set by Ctrl+C (SIGINT) and SIGTERM once a connection has been opened.
extern std::atomic<bool> g_interrupted;

struct PortOptions {
  bool demo = false;
  std::string demoAdapter;  // --demo elm327: the virtual ECU behind a virtual ELM327
  std::string port;         // a COM number, a device path or an ELM327 ("elm:...")
  bool yes = false;         // the questions are answered Yes without asking
  std::string trace;        // --trace FILE: every frame of the line goes there
};

// --demo [elm327] and --port N|PATH|elm:...; with demoByDefault the virtual ECU is used when
// neither is given, otherwise one of them is required. The check runs after parsing (a usage error,
// exit 2). Also --trace FILE, the frame trace of the connection.
void AddPortOptions(CLI::App& command, PortOptions& options, bool demoByDefault);
// --yes: answer the command's question without asking.
void AddYesOption(CLI::App& command, PortOptions& options);

// The window's side of the session and of the ECU commands on a terminal. Messages and link
// states go to stderr; a question is asked on the terminal ("y/N") unless --yes answered it,
// and without a terminal to ask it is answered No. The window's menus, the actuator panel,
// the ADC bar and the trouble-code list do not exist here.
class ConsoleUi final : public kvd::SessionUi, public kvd::EcuUi {
 public:
  explicit ConsoleUi(bool assumeYes = false) : assumeYes_(assumeYes) {}

  void ShowMessage(const std::string& text) override;
  void ShowConnectBox(const std::string& text) override;
  bool ConnectBoxCancelled() override { return g_interrupted; }
  void CloseConnectBox() override {}
  void ProcessMessages() override {}
  void ShowLinkState(kvd::LinkState state, const std::string& text) override;
  void ApplyMenus(const kvd::SessionMenus&) override {}
  void SetStatusWarning(const std::string& text) override;
  void SetActuatorPanel(bool) override {}
  bool ActuatorControlChecked() override { return false; }
  void ReleaseActuatorControl() override {}
  void RefreshActuator() override {}
  bool AdcShown() override { return false; }
  void ShowAdcValues(const kvd::AdcTexts&) override {}
  void TroubleCodesRead(std::span<const uint8_t>, uint32_t) override {}
  void CloseTroubleCodeList() override {}
  void CloseLearnMemory() override {}

  bool Confirm(const std::string& question) override;
  void SetBusyCursor(bool) override {}
  void ShowBusyNotice(const std::string& text) override;
  void HideBusyNotice() override {}

  // Every message shown so far, in order (a command decides from them how it ended).
  int MessageCount() const { return messages_; }

 private:
  bool assumeYes_;
  std::string lastState_;
  bool warned_ = false;
  int messages_ = 0;
};

// The clock, the port (the system's serial port, an ELM327's serial or TCP port, or the virtual
// ECU on a virtual line or behind a virtual ELM327 in real time), the link, a recording and the
// session, for one command.
class EcuConnection {
 public:
  // Throws std::runtime_error when the trace file asked for cannot be created.
  explicit EcuConnection(const PortOptions& options);
  ~EcuConnection();
  EcuConnection(const EcuConnection&) = delete;
  EcuConnection& operator=(const EcuConnection&) = delete;

  // Opens the port and the session as the window's first tick does (ten attempts), with
  // Ctrl+C and SIGTERM caught from then on. False when no session could be opened; the reason
  // has been shown. Through an ELM327 its identity and the battery voltage are printed.
  bool Open();
  // Closes the session and the port (also done when the connection is destroyed).
  void Close();

  kvd::DiagSession& Session() { return *session_; }
  kvd::HistoryStore& History() { return *history_; }
  kvd::Clock& Clock() { return *clock_; }
  ConsoleUi& Ui() { return ui_; }
  bool Demo() const { return demo_; }

 private:
  bool demo_;
  bool demoElm_ = false;
  ConsoleUi ui_;
  std::unique_ptr<kvd::Clock> clock_;
  std::unique_ptr<kvd::VirtualEcu> ecu_;
  std::unique_ptr<kvd::SerialPort> serial_;
  std::unique_ptr<kvd::FrameTrace> trace_;  // outlives the link that writes to it
  std::unique_ptr<kvd::EcuLink> link_;
  std::unique_ptr<kvd::HistoryStore> history_;
  std::unique_ptr<kvd::DiagSession> session_;
  bool open_ = false;
};

}  // namespace kvdcli
