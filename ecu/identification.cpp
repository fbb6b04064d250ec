// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the identification records.
#include "ecu/identification.h"

#include <algorithm>
#include <array>
#include <string>

#include "ecu/poll_hold.h"
#include "link/ecu_link.h"
#include "session/diag_session.h"
#include "session/response_codes.h"

namespace kvd {

namespace {

constexpr uint8_t kWriteDataByLocalIdentifier = 0x3B;

}  // namespace

const std::array<IdentRecordInfo, kIdentRecordCount>& IdentRecordTable() {
  static const std::array<IdentRecordInfo, kIdentRecordCount> kTable = {{
      {"Номер кузова", 0x21, 0xA1, true},
      {"Номер двигателя", 0x21, 0xA2, true},
      {"Дата изготовления", 0x21, 0xA3, true},
      {"VIN", 0x1A, 0x90, true},
      {"Номер ЭБУ (по каталогу производителя)", 0x1A, 0x91, false},
      {"Номер ЭБУ", 0x1A, 0x92, false},
      {"Номер программного обеспечения", 0x1A, 0x94, false},
      {"Название системы или тип двигателя", 0x1A, 0x97, false},
      {"Код запасных частей", 0x1A, 0x98, true},
      {"Дата программирования", 0x1A, 0x99, false},
      {"Идентификатор программного обеспечения", 0x1A, 0x9A, false},
  }};
  return kTable;
}

std::string IdentValueOfAnswer(std::span<const uint8_t> answer) {
  if (answer.size() <= 2) return {};
  return std::string(answer.begin() + 2, answer.end());
}

std::string PadIdentText(std::string text, size_t maxLength) {
  if (text.size() < maxLength) text.append(maxLength - text.size(), ' ');
  return text;
}

IdentValues PadIdentValues(const IdentValues& texts, const IdentValues& asRead) {
  IdentValues out = texts;
  for (size_t i = 0; i < kIdentRecordCount; ++i) out[i] = PadIdentText(out[i], asRead[i].size());
  return out;
}

std::string IdentWriteFailedMessage() {
  return LinkLostMessage(kSvcWriteDataByLocalIdentifier) +
         "\n\nПопробуйте остановить двигатель и повторите попытку.";
}

std::string IdentTooLongMessage(size_t maxRequest) {
  return "Адаптер передаёт ЭБУ запросы не длиннее " + std::to_string(maxRequest) +
         " байт, а запись идентификации длиннее. Ничего не записано.\n\n"
         "Записать идентификацию можно через KKL-адаптер.";
}

int32_t ReadIdentification(DiagSession& session, EcuUi& ui, IdentValues& values) {
  values = {};
  EcuLink& link = session.Link();
  PollHold hold(session, ui);
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    const IdentRecordInfo& r = IdentRecordTable()[i];
    const int32_t result = link.KwpRetry(KwpRequest{r.ReadService, r.Id});
    if (result != kKwpPositive) {
      hold.Release();
      ui.ShowMessage(LinkLostMessage(kSvcReadDataByLocalIdentifier));
      return result;
    }
    values[i] = IdentValueOfAnswer(LastAnswer(link));
  }
  return kKwpPositive;
}

int32_t WriteIdentification(DiagSession& session, EcuUi& ui, const IdentValues& texts) {
  EcuLink& link = session.Link();
  std::array<KwpRequest, kIdentRecordCount> requests{};
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    const IdentRecordInfo& r = IdentRecordTable()[i];
    if (!r.Writable) continue;
    const std::string& text = texts[i];
    KwpRequest& request = requests[i];
    request.Message[0] = kWriteDataByLocalIdentifier;
    request.Message[1] = r.Id;
    const size_t n = std::min(text.size(), kIdentMaxWriteText);
    std::copy_n(text.begin(), n, request.Message.begin() + 2);
    request.Length = static_cast<uint8_t>(n + 2);
    // All or nothing: a record the adapter cannot carry stops the write before the first one.
    if (request.Length > link.MaxRequestLength()) {
      ui.ShowMessage(IdentTooLongMessage(link.MaxRequestLength()));
      return kKwpTooLong;
    }
  }
  PollHold hold(session, ui);
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    if (!IdentRecordTable()[i].Writable) continue;
    const int32_t result = link.KwpRetry(requests[i]);
    if (result != kKwpPositive) {
      hold.Release();
      ui.ShowMessage(IdentWriteFailedMessage());
      return result;
    }
  }
  return kKwpPositive;
}

int32_t RunIdentification(DiagSession& session, EcuUi& ui, IdentEditor& editor) {
  IdentValues asRead;
  const int32_t read = ReadIdentification(session, ui, asRead);
  if (read != kKwpPositive) return read;
  const std::optional<IdentValues> edited = editor.EditIdentification(asRead);
  if (!edited) return kIdentNotSaved;
  // The poll cycle ran while the dialog was open; if it lost the link meanwhile, the session
  // is closed and writing would only fail (and hand the poll cycle back to a closed session).
  if (!session.Connected) {
    ui.ShowMessage(IdentWriteFailedMessage());
    return kIdentNotOnline;
  }
  return WriteIdentification(session, ui, PadIdentValues(*edited, asRead));
}

}  // namespace kvd
