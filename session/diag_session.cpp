// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the session with the ECU, and the poll step.
#include "session/diag_session.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "data/history.h"
#include "data/parameters.h"
#include "session/response_codes.h"

namespace kvd {

namespace {

// Read time-outs of the whole session.
constexpr uint32_t kTimeoutMultiplier = 5;
constexpr uint32_t kTimeoutConstant = 100;

constexpr int32_t kConnectAttempts = 10;
constexpr uint32_t kAttemptPauseMs = 250;
constexpr uint32_t kQuietLineLimitMs = 5000;
constexpr uint32_t kStepPauseMs = 200;
// The quiet-line wait reads for as long as a full buffer may take with the session's
// time-outs (5 x 256 + 100 ms), in slices of this length.
constexpr uint32_t kQuietReadMs = kTimeoutMultiplier * 256 + kTimeoutConstant;
constexpr uint32_t kQuietSliceMs = 200;

// Clears the flag when the scope ends, also when a hook throws.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

AdcTexts AdcChannelTexts(std::span<const uint8_t> answer, char separator) {
  struct Channel {
    size_t byte;
    double scale;
    int decimals;
  };
  // In the order of the bar: ДМРВ, ДПДЗ, ДД, ДК, ДТОЖ, АКБ.
  static constexpr std::array<Channel, kAdcChannelCount> kChannels = {{
      {4, 5.0 / 256, 3},
      {7, 5.0 / 256, 3},
      {2, 5.0 / 256, 3},
      {6, 1.25 / 256, 3},
      {3, 5.0 / 256, 3},
      {5, 0.093, 2},
  }};
  AdcTexts texts;
  for (size_t i = 0; i < kChannels.size(); ++i) {
    const Channel& c = kChannels[i];
    if (c.byte >= answer.size()) continue;  // the answer ended before this channel
    texts[i] = FormatFixed(answer[c.byte] * c.scale, 4, c.decimals, separator);
  }
  return texts;
}

DiagSession::DiagSession(EcuLink& link, HistoryStore& history, Clock& clock, SessionUi& ui)
    : link_(link), history_(history), clock_(clock), ui_(ui) {}

void DiagSession::ShowLinkState(LinkState state) {
  std::string text;
  switch (state) {
    case LinkState::Offline:
      text = "OFF-LINE";
      break;
    case LinkState::Online:
      text = "ON-LINE";
      break;
    case LinkState::Connecting:
      text = "Соединение " + std::to_string(ConnectAttempt);
      break;
  }
  ui_.ShowLinkState(state, text);
}

bool DiagSession::Connect() {
  if (!AutoConnect) {
    AutoConnect = true;
    return false;
  }
  if (connecting_) return false;
  ScopedFlag connecting(connecting_);
  ConnectAttempt = 0;
  PollEnabled = false;

  SerialPort& port = link_.Port();
  if (!port.IsOpen()) {
    const int32_t opened = ComDevice.empty() ? port.OpenPort(ComPort) : port.OpenDevice(ComDevice);
    if (opened != kPortOk) {
      std::string name = ComDevice.empty() ? "COM" + std::to_string(ComPort) : ComDevice;
      ui_.ShowMessage("Не удалось открыть порт " + name + ". Выберите другой порт.");
      return false;
    }
  }
  link_.SetSessionLine();

  ui_.ShowConnectBox(kConnectBoxText);
  // Every wait of the attempts gives the window its turn, so that it repaints and Cancel ends
  // the attempt at once instead of after it.
  lastPumpMs_ = clock_.TickCount();
  ScopedWaitHook waits(link_, [this] { return ConnectWait(); });
  for (int32_t attempt = 1; attempt <= kConnectAttempts; ++attempt) {
    ui_.ProcessMessages();
    if (ui_.ConnectBoxCancelled()) break;
    ConnectAttempt = attempt;
    ShowLinkState(LinkState::Connecting);
    ui_.ProcessMessages();
    if (OpenSession()) {
      if (Paused) miPauseClick(PauseSender::None);
      ui_.SetActuatorPanel(true);
      Connected = true;
      PollEnabled = true;
      menus_.ParamsEnabled = true;
      menus_.PauseEnabled = true;
      menus_.StopEnabled = true;
      menus_.OpenDiagDataEnabled = false;
      ShowLinkState(LinkState::Online);
      menus_.ConnectCaption = "Прервать";
      ApplyMenus();
      ui_.CloseConnectBox();
      return true;
    }
    if (ui_.ConnectBoxCancelled()) break;
    // An adapter that cannot serve this ECU will not learn it in the next attempts.
    if (const std::string refusal = link_.Refusal(); !refusal.empty()) {
      ui_.CloseConnectBox();
      ShowLinkState(LinkState::Offline);
      ui_.ShowMessage(refusal);
      return false;
    }
    clock_.Sleep(kAttemptPauseMs);
  }
  ui_.CloseConnectBox();
  ShowLinkState(LinkState::Offline);
  ui_.ShowMessage(kConnectFailedText);
  return false;
}

bool DiagSession::OpenSession() {
  if (Connected) return false;

  // Wait until the line carries nothing but zero bytes, at most a little over five seconds.
  const uint32_t start = clock_.TickCount();
  std::array<uint8_t, 256> noise{};
  bool ok = true;
  for (;;) {
    noise.fill(0);
    if (!ReadQuietLine(noise)) {
      ok = false;
      break;
    }
    uint32_t sum = 0;
    for (uint8_t b : noise) sum += b;
    if (sum == 0) break;
    if (static_cast<uint32_t>(clock_.TickCount() - start) > kQuietLineLimitMs) break;
  }

  link_.TargetAddress = 0x10;
  const auto& answer = link_.ResponseBuffer;
  // The pauses between the steps are waits like the others: the window gets its turn after
  // them, and a cancelled connect sends nothing more.
  const auto pause = [&](uint32_t ms) {
    clock_.Sleep(ms);
    return !link_.WaitHook || link_.WaitHook();
  };
  ok = ok && link_.KwpTransaction(KwpRequest{0x81}, 0, 1) == kKwpPositive &&
       link_.ResponseDataLength == 3 && answer[1] == 0x6B && answer[2] == 0x8F;
  if (ok) {
    ok = pause(kStepPauseMs) &&
         link_.KwpTransaction(KwpRequest{0x10, 0x81, 0x0A}, 0, 50) == kKwpPositive &&
         link_.ResponseDataLength == 2 && answer[1] == 0x81;
  }
  if (ok) {
    ok = pause(kStepPauseMs) && link_.KwpTransaction(KwpRequest{0x3E, 0x01}, 0, 50) == kKwpPositive;
  }
  if (!ok) {
    Disconnect();
    return false;
  }
  return true;
}

bool DiagSession::ConnectWait() {
  const uint32_t now = clock_.TickCount();
  if (static_cast<uint32_t>(now - lastPumpMs_) >= kConnectPumpMs) {
    ui_.ProcessMessages();
    lastPumpMs_ = clock_.TickCount();
  }
  return !ui_.ConnectBoxCancelled();
}

bool DiagSession::ReadQuietLine(std::array<uint8_t, 256>& buffer) {
  SerialPort& port = link_.Port();
  const uint32_t start = clock_.TickCount();
  uint32_t got = 0;
  bool going = true;
  while (got < buffer.size()) {
    const uint32_t elapsed = clock_.TickCount() - start;
    if (elapsed >= kQuietReadMs) break;
    const uint32_t slice = std::min(kQuietSliceMs, kQuietReadMs - elapsed);
    port.SetReadTimeouts(0, 0, slice);
    const uint32_t sliceStart = clock_.TickCount();
    const int32_t n =
        port.ReadBytes(static_cast<uint32_t>(buffer.size()) - got, buffer.data() + got);
    if (n > 0) got += static_cast<uint32_t>(n);
    // A read that failed before its time was up will fail again: stop, as one read would.
    if (n < 0 && clock_.TickCount() - sliceStart < slice / 2) break;
    if (link_.WaitHook && !link_.WaitHook()) {
      going = false;
      break;
    }
  }
  port.SetReadTimeouts(0, kTimeoutMultiplier, kTimeoutConstant);
  return going;
}

void DiagSession::StopSession() {
  if (!Connected) return;
  link_.KwpTransaction(KwpRequest{0x20}, 0, 250);
  link_.SetSessionLine();
  link_.KwpTransaction(KwpRequest{0x82}, 0, 250);
  Connected = false;
}

void DiagSession::Disconnect() {
  PollEnabled = false;
  StopSession();
  Connected = false;
  if (Tag & kErrListShown) {
    ui_.CloseTroubleCodeList();
    Tag &= ~kErrListShown;
  }
  if (Tag & kBlmShown) {
    ui_.CloseLearnMemory();
    Tag &= ~kBlmShown;
  }
  menus_.ParamsEnabled = false;
  ui_.SetActuatorPanel(false);
  if (!Paused) miPauseClick(PauseSender::None);
  menus_.PauseEnabled = false;
  menus_.StopEnabled = false;
  menus_.OpenDiagDataEnabled = true;
  menus_.ConnectCaption = "Уст.связь";
  ApplyMenus();
  ShowLinkState(LinkState::Offline);
}

void DiagSession::miConnectClick() {
  if (connecting_) return;  // the menu was chosen while the connect box pumps messages
  if (Connected) {
    Disconnect();
    return;
  }
  history_.Reset();
  Connect();
}

void DiagSession::miPauseClick(PauseSender sender) {
  if (sender == PauseSender::Pause) PauseMode = 0;
  if (sender == PauseSender::Stop) PauseMode = 1;
  if (Paused) {
    menus_.PauseCaption = "Пауза";
    menus_.StopCaption = "Стоп";
    menus_.PauseEnabled = true;
    menus_.StopEnabled = true;
    menus_.NavigationEnabled = false;
  } else {
    if (sender == PauseSender::Pause) {
      menus_.PauseCaption = "Продолжить";
      menus_.StopEnabled = false;
    } else if (sender == PauseSender::Stop) {
      menus_.StopCaption = "Продолжить";
      menus_.PauseEnabled = false;
    }
    menus_.NavigationEnabled = true;
  }
  Paused = !Paused;
  ApplyMenus();
}

void DiagSession::FormShow() {
  Paused = false;
  menus_.PauseCaption = "Пауза";
  menus_.StopCaption = "Стоп";
  menus_.PauseEnabled = true;
  menus_.StopEnabled = true;
  menus_.NavigationEnabled = false;
  ApplyMenus();
}

void DiagSession::FormClose() {
  if (ui_.ActuatorControlChecked()) ui_.ReleaseActuatorControl();
  Disconnect();
  link_.Port().ClosePort();
}

// ---------------------------------------------------------------------------------------
// Poll cycle

std::span<const uint8_t> DiagSession::Answer() const {
  return std::span<const uint8_t>(link_.ResponseBuffer)
      .first(static_cast<size_t>(std::clamp<int32_t>(
          link_.ResponseDataLength, 0, static_cast<int32_t>(link_.ResponseBuffer.size()))));
}

bool DiagSession::RetryOrLinkLost(const KwpRequest& request, const char* service) {
  if (link_.KwpRetry(request) == kKwpPositive) return true;
  Disconnect();
  ui_.ShowMessage(LinkLostMessage(service));
  return false;
}

void DiagSession::PollStep() {
  // A message box of a previous tick may pump the tick that is due now: ignore it.
  if (inPollStep_ || connecting_) return;
  if (!PollEnabled) return;
  ScopedFlag running(inPollStep_);
  ++TickCount;

  if (!Connected) {
    PollEnabled = false;
    if (!Connect()) Disconnect();
    return;
  }
  if (Paused && PauseMode == 1) {
    RetryOrLinkLost(KwpRequest{0x3E, 0x01}, kSvcTesterPresent);
    return;
  }
  if (Tag & kClearRequested) {
    ClearTroubleCodes();
    return;
  }
  PollSlot = PollSlot >= 2 ? 0 : PollSlot + 1;
  if (!(Tag & kErrListShown)) PollSlot = 0;
  switch (PollSlot) {
    case 0:
      ReadLiveData();
      break;
    case 1:
      ReadTroubleCodes();
      break;
    default:
      break;  // idle slot: the ECU gets a rest from the list's requests
  }
}

int32_t SendClearDiagnosticInformation(EcuLink& link, std::string& message) {
  int32_t result = kKwpNoResponse;
  for (int32_t attempt = 0; attempt < 5; ++attempt) {
    result = link.KwpTransaction(KwpRequest{0x14, 0x00, 0x00}, 0, 150);
    if (result == kKwpPositive) return result;
  }
  if (result == kKwpNegative || result == kKwpTooManyBusy) {
    // The buffer holds the ECU's refusal 7F 14 code.
    message = ResponseCodeText(link.ResponseBuffer[2]);
  } else {
    // The link failed, or the answer was not a refusal (a wrong service byte, a bad
    // checksum): there is no response code to explain, only the failed service.
    message = KwpErrorMessage(kSvcClearDiagnosticInformation);
  }
  return result;
}

void DiagSession::ClearTroubleCodes() {
  std::string message;
  if (SendClearDiagnosticInformation(link_, message) == kKwpPositive) {
    Tag &= ~kClearRequested;
  } else {
    ui_.ShowMessage(message);
  }
}

void DiagSession::ReadLiveData() {
  if (!RetryOrLinkLost(KwpRequest{0x21, 0x01}, kSvcReadDataByLocalIdentifier)) return;
  const std::span<const uint8_t> answer = Answer();
  if (answer.size() != static_cast<size_t>(kDataBlockSize)) {
    ui_.SetStatusWarning((TickCount & 1) ? std::string(kWrongLengthText)
                                         : std::string(kWrongLengthBlankCount, ' '));
  }
  // A short answer is recorded with zeros where its bytes are missing, never with the
  // bytes a previous answer left in the buffer; the trouble-code mask is read from the same
  // block, so its missing bytes are zeros too.
  std::array<uint8_t, kDataBlockSize> block{};
  std::copy_n(answer.begin(), std::min(answer.size(), block.size()), block.begin());
  ErrorMask = ErrorMaskOfDataBlock(block.data());
  history_.Append(block.data());

  if (ui_.ActuatorControlChecked() && TickCount % 5 == 0) {
    ui_.RefreshActuator();
    if (!Connected) return;  // the actuator read lost the link and closed the session
  }
  if (ui_.AdcShown()) ReadAdcChannels();
}

void DiagSession::ReadAdcChannels() {
  if (!RetryOrLinkLost(KwpRequest{0x21, 0x03}, kSvcReadDataByLocalIdentifier)) return;
  ui_.ShowAdcValues(AdcChannelTexts(Answer(), DecimalSeparator));
}

void DiagSession::ReadTroubleCodes() {
  if (!RetryOrLinkLost(KwpRequest{0x18, 0x00, 0x00, 0x00}, kSvcReadDtcByStatus)) return;
  ui_.TroubleCodesRead(Answer(), ErrorMask);
}

}  // namespace kvd
