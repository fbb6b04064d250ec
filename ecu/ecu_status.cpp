// SPDX-License-Identifier: GPL-3.0-or-later
// Configuration flags, ECU reset and immobilizer status.
#include "ecu/ecu_status.h"

#include <array>

#include "ecu/poll_hold.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "session/response_codes.h"

namespace kvd {

namespace {

using BitTexts = std::array<const char*, 8>;

// Answer bytes 2 and 3 of the live data, bit 0 first.
constexpr std::array<BitTexts, 2> kConfigFlagTexts = {{
    {"флаг комплектации датчиком кислорода", "флаг комплектации адсорбером",
     "флаг комплектации клапаном рециркуляции", "флаг комплектации датчиком детонации",
     "флаг комплектации датчиком температуры воздуха", "флаг комплектации датчиком фазы",
     "флаг запрещения отсечки топлива", "флаг разрешения адаптации уставки ХХ"},
    {"флаг комплектации потенциометром корректировки CO", "флаг разрешения адаптации нуля дросселя",
     "флаг разрешения асинхронной подачи топлива при пуске",
     "флаг разрешения постоянного хранения ошибок",
     "флаг комплектации датчиком скорости автомобиля", "флаг разрешения одновременного впрыска",
     "флаг разрешения асинхронного впрыска при ускорении", "резерв"},
}};

// Answer byte 3 of 21 A0, bit 0 first; the low four bits have no text.
constexpr BitTexts kImmoTexts = {"",
                                 "",
                                 "",
                                 "",
                                 "* ошибка связи с иммобилизатором",
                                 "* разрешение запуска",
                                 "* режим обучения разрешен",
                                 "* функции иммобилизации активированы"};

constexpr size_t kConfigByte = 2;
constexpr size_t kImmoByte = 3;

uint8_t ByteOr0(std::span<const uint8_t> answer, size_t i) {
  return i < answer.size() ? answer[i] : 0;
}

void AppendSetBits(uint8_t value, const BitTexts& texts, const char* prefix,
                   std::vector<std::string>& out) {
  for (size_t bit = 0; bit < 8; ++bit) {
    if (!(value & (1u << bit)) || texts[bit][0] == '\0') continue;
    out.push_back(std::string(prefix) + texts[bit]);
  }
}

std::string JoinLines(std::string text, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

int32_t ReadOne(DiagSession& session, EcuUi& ui, const KwpRequest& request,
                std::vector<uint8_t>& answer) {
  answer.clear();
  EcuLink& link = session.Link();
  PollHold hold(session, ui, false);
  const int32_t result = link.KwpRetry(request);
  if (result == kKwpPositive) {
    const std::span<const uint8_t> a = LastAnswer(link);
    answer.assign(a.begin(), a.end());
  }
  return result;
}

}  // namespace

std::vector<std::string> ConfigFlagLines(std::span<const uint8_t> answer) {
  std::vector<std::string> lines;
  for (size_t k = 0; k < kConfigFlagTexts.size(); ++k)
    AppendSetBits(ByteOr0(answer, kConfigByte + k), kConfigFlagTexts[k], "* ", lines);
  return lines;
}

std::string ConfigFlagsText(std::span<const uint8_t> answer) {
  return JoinLines({}, ConfigFlagLines(answer));
}

std::vector<std::string> ImmoStatusLines(std::span<const uint8_t> answer) {
  std::vector<std::string> lines;
  AppendSetBits(ByteOr0(answer, kImmoByte), kImmoTexts, "", lines);
  return lines;
}

std::string ImmoStatusText(std::span<const uint8_t> answer) {
  return JoinLines(kImmoHeading, ImmoStatusLines(answer));
}

int32_t ReadConfigFlags(DiagSession& session, EcuUi& ui, std::vector<uint8_t>& answer) {
  return ReadOne(session, ui, KwpRequest{0x21, 0x01}, answer);
}

int32_t ReadImmoStatus(DiagSession& session, EcuUi& ui, std::vector<uint8_t>& answer) {
  return ReadOne(session, ui, KwpRequest{0x21, 0xA0}, answer);
}

int32_t ReadAdcChannels(DiagSession& session, EcuUi& ui, std::vector<uint8_t>& answer) {
  return ReadOne(session, ui, KwpRequest{0x21, 0x03}, answer);
}

int32_t ShowConfigFlags(DiagSession& session, EcuUi& ui) {
  std::vector<uint8_t> answer;
  const int32_t result = ReadConfigFlags(session, ui, answer);
  if (result != kKwpPositive) {
    ui.ShowMessage(KwpErrorMessage(kSvcReadDataByLocalIdentifier));
    return result;
  }
  ui.ShowMessage(ConfigFlagsText(answer));
  return result;
}

int32_t ShowImmoStatus(DiagSession& session, EcuUi& ui) {
  std::vector<uint8_t> answer;
  const int32_t result = ReadImmoStatus(session, ui, answer);
  if (result != kKwpPositive) {
    ui.ShowMessage(LinkLostMessage(kSvcReadDataByLocalIdentifier));
    return result;
  }
  ui.ShowMessage(ImmoStatusText(answer));
  return result;
}

int32_t ResetEcu(DiagSession& session, EcuUi& ui, bool reconnect) {
  if (!ui.Confirm(kResetQuestion)) return kResetNotConfirmed;
  EcuLink& link = session.Link();
  int32_t result = kKwpNoResponse;
  {
    PollHold hold(session, ui, false);
    result = link.KwpRetry(KwpRequest{0x11, 0x01});
    if (result != kKwpPositive) {
      hold.Release();
      ui.ShowMessage(KwpErrorMessage(kSvcEcuReset));
      return result;
    }
    // The ECU restarts: the session is over and the port is closed until it is opened anew.
    session.Disconnect();
    link.Port().ClosePort();
  }
  ui.ShowMessage(kResetDoneText);
  if (reconnect) session.Connect();
  return result;
}

}  // namespace kvd
