// The diagnostic session with the ECU: opening and closing it, and the poll step that the
// window's poll timer runs on every tick.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "link/clock.h"
#include "link/ecu_link.h"
#include "session/session_ui.h"

namespace kvd {

class HistoryStore;

// Bits of the window Tag.
constexpr uint32_t kErrListShown = 1;    // the trouble-code list is open
constexpr uint32_t kClearRequested = 2;  // the trouble codes are to be cleared on the next tick
constexpr uint32_t kBlmShown = 4;        // the learn-memory window is open

// Which menu item chose "Пауза"/"Стоп" (None: called by the session itself).
enum class PauseSender { None, Pause, Stop };

// The texts of the session.
inline constexpr char kConnectBoxText[] = "Установка связи с ЭБУ...";
inline constexpr char kConnectFailedText[] =
    "Не удалось установить связь с ЭБУ.\nПроверьте правильность подключения адаптера.";
inline constexpr char kWrongLengthText[] =
    "Неправильная длина пакета! Возможно, выбран неверный тип ЭБУ.";
inline constexpr size_t kWrongLengthBlankCount = 61;

// The six texts of the ADC bar from a 21 03 answer (message bytes, service byte first).
// A channel whose byte lies beyond the answer gets an empty text.
AdcTexts AdcChannelTexts(std::span<const uint8_t> answer, char separator);

// ClearDiagnosticInformation (14 00 00) as the clear request sends it: up to five attempts,
// 150 ms before each, stopping at the first positive answer. Returns the last result; when it
// is not 0, message gets the text to show: the refusal's response code, or "Ошибка KWP -
// ClearDiagnosticInformation" when there is no response code to explain.
int32_t SendClearDiagnosticInformation(EcuLink& link, std::string& message);

// The session state of the diagnostic window and its operations. It does not own the
// link, the history, the clock or the window; whoever creates it keeps them alive.
// Single-threaded: everything runs on the user-interface thread.
class DiagSession {
 public:
  DiagSession(EcuLink& link, HistoryStore& history, Clock& clock, SessionUi& ui);

  // --- state (the names the program uses throughout) ---
  uint16_t ComPort = 1;     // COM port number opened when ComDevice is empty
  std::string ComDevice;    // a device path chosen instead of a number (Linux), or empty
  bool AutoConnect = true;  // false: the next Connect only sets it again
  bool PollEnabled = false;
  bool Connected = false;
  int32_t ConnectAttempt = 0;
  bool Paused = false;
  int32_t PauseMode = 1;        // 0 "Пауза" (keep reading), 1 "Стоп" (TesterPresent only)
  uint32_t Tag = 0;             // kErrListShown | kClearRequested | kBlmShown
  uint32_t TickCount = 0;       // ticks handled while PollEnabled was true
  int32_t PollSlot = 0;         // 0 live data, 1 trouble codes, 2 idle
  uint32_t ErrorMask = 0;       // trouble-code bits of the last live-data answer
  char DecimalSeparator = '.';  // of the user's locale, for the ADC texts

  // --- session control ---
  // Opens the port if needed and tries ten times to open the session. True when open.
  bool Connect();
  // Quiet-line wait, StartCommunication, StartDiagnosticSession, TesterPresent.
  bool OpenSession();
  // StopDiagnosticSession and StopCommunication, answers ignored (only when Connected).
  void StopSession();
  // Ends the session and goes Off-line; the port stays open.
  void Disconnect();
  // Sets the link indicator.
  void ShowLinkState(LinkState state);
  // "Уст.связь" / "Прервать".
  void miConnectClick();
  // "Пауза", "Стоп", "Продолжить"; PauseSender::None toggles without changing PauseMode.
  void miPauseClick(PauseSender sender);
  // Session side of showing the window: running, captions restored.
  void FormShow();
  // Session side of closing the window: actuator released, session closed, port closed.
  void FormClose();

  // --- poll cycle ---
  // One tick of the poll timer. A tick that falls due while a previous one still runs
  // (a message box of the step pumps window messages) is ignored.
  void PollStep();

  // The link the session speaks over; the ECU commands use it between ticks.
  EcuLink& Link() { return link_; }
  Clock& SessionClock() { return clock_; }

  // How often, at the least, the window gets its turn while a connect waits on the line.
  static constexpr uint32_t kConnectPumpMs = 50;

  // The menu states as last applied.
  const SessionMenus& Menus() const { return menus_; }
  // True while PollStep runs.
  bool InPollStep() const { return inPollStep_; }
  // True while Connect runs (from a tick or from the menu); it pumps window messages.
  bool Connecting() const { return connecting_; }

 private:
  void ApplyMenus() { ui_.ApplyMenus(menus_); }
  // The request with the link's retries; when every attempt failed, the session ends
  // (Disconnect), "Связь прервана: <service>" is shown and the result is false.
  bool RetryOrLinkLost(const KwpRequest& request, const char* service);
  void ClearTroubleCodes();
  void ReadLiveData();
  void ReadAdcChannels();
  void ReadTroubleCodes();
  // The message bytes of the last answer (service byte first), within the buffer.
  std::span<const uint8_t> Answer() const;
  // The link's WaitHook during a connect: lets the window handle its messages when
  // kConnectPumpMs have passed since it last did; false once the box was cancelled.
  bool ConnectWait();
  // One read of the quiet-line wait: up to 256 bytes within the session's total time-out for
  // them, read in slices so that ConnectWait runs meanwhile. False when the connect was
  // cancelled.
  bool ReadQuietLine(std::array<uint8_t, 256>& buffer);

  EcuLink& link_;
  HistoryStore& history_;
  Clock& clock_;
  SessionUi& ui_;
  SessionMenus menus_;
  bool inPollStep_ = false;
  bool connecting_ = false;
  uint32_t lastPumpMs_ = 0;
};

}  // namespace kvd
