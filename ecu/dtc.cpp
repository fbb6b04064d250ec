// SPDX-License-Identifier: GPL-3.0-or-later
// Trouble codes: building the list, its grid texts and the one-shot read.
#include "ecu/dtc.h"

#include <algorithm>
#include <cstdio>

#include "data/parameters.h"
#include "ecu/ecu_ui.h"
#include "ecu/poll_hold.h"
#include "link/ecu_link.h"
#include "session/diag_session.h"
#include "session/response_codes.h"

namespace kvd {

const std::array<uint16_t, 32> MaskCodeTable = {
    0x0325, 0x1600, 0x3999, 0x0134, 0x0172, 0x0171, 0x0501, 0x0505,  // bits 0..7
    0x0563, 0x1172, 0x0113, 0x0118, 0x0132, 0x0123, 0x0103, 0x0328,  // bits 8..15
    0x0562, 0x1171, 0x0112, 0x0117, 0x0131, 0x0122, 0x1102, 0x0327,  // bits 16..23
    0x0335, 0x1610, 0x1603, 0x0135, 0x0340, 0x1612, 0x0603, 0x0601,  // bits 24..31
};

DtcList BuildDtcList(std::span<const uint8_t> answer, uint32_t errorMask) {
  DtcList list{};
  if (answer.size() < 2) return list;
  // The count byte may claim more groups than the answer carries (a truncated or garbled
  // answer): the groups beyond the answer's end are not there to read.
  const size_t complete = (answer.size() - 2) / 3;
  const size_t n = std::min<size_t>({answer[1], complete, kDtcListSize - 1});
  for (size_t j = 0; j < n; ++j) {
    list[j].Code = static_cast<uint16_t>(answer[2 + 3 * j] << 8 | answer[3 + 3 * j]);
    list[j].Stored = 1;
  }
  for (size_t bit = 0; bit < MaskCodeTable.size(); ++bit) {
    if (!(errorMask & (uint32_t{1} << bit))) continue;
    for (size_t k = 0; k <= n; ++k) {
      if (list[k].Code == MaskCodeTable[bit]) {
        list[k].Current = 1;
        break;
      }
    }
  }
  return list;
}

size_t DtcCount(const DtcList& list) {
  for (size_t k = 0; k < list.size(); ++k)
    if (list[k].Code == 0) return k;
  return 0;
}

std::string DtcCodeName(uint16_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "P%04X", static_cast<unsigned>(code));
  return text;
}

std::vector<DtcGridRow> DtcGridRows(const DtcList& list, DtcLanguage language) {
  std::vector<DtcGridRow> rows;
  rows.push_back({kDtcGridHeader[0], kDtcGridHeader[1], kDtcGridHeader[2], kDtcGridHeader[3]});
  const size_t count = DtcCount(list);
  for (size_t k = 0; k < count; ++k) {
    const DtcListEntry& e = list[k];
    rows.push_back({DtcCodeName(e.Code), e.Current ? kDtcYes : kDtcNo, e.Stored ? kDtcYes : kDtcNo,
                    std::string(TroubleCodeTextUtf8(e.Code, language))});
  }
  return rows;
}

namespace {

// The message of a request that failed after its retries.
std::string FailureMessage(int32_t result, const EcuLink& link, const char* service) {
  if (result < 0) return LinkLostMessage(service);
  if (result == kKwpNegative || result == kKwpTooManyBusy)
    return ResponseCodeText(link.ResponseBuffer[2]);
  return KwpErrorMessage(service);
}

}  // namespace

int32_t ReadTroubleCodesOnce(DiagSession& session, EcuUi& ui, bool clearFirst, DtcList& list) {
  PollHold hold(session, ui, /*busyCursor=*/false);
  EcuLink& link = session.Link();
  if (clearFirst) {
    std::string message;
    const int32_t result = SendClearDiagnosticInformation(link, message);
    if (result != kKwpPositive) {
      ui.ShowMessage(message);
      return result;
    }
  }
  int32_t result = link.KwpRetry(KwpRequest{0x21, 0x01});
  if (result != kKwpPositive) {
    ui.ShowMessage(FailureMessage(result, link, kSvcReadDataByLocalIdentifier));
    return result;
  }
  // A short live-data answer lends zeros to the mask bytes it lacks.
  std::array<uint8_t, kDataBlockSize> block{};
  const std::span<const uint8_t> live = LastAnswer(link);
  std::copy_n(live.begin(), std::min(live.size(), block.size()), block.begin());
  const uint32_t errorMask = ErrorMaskOfDataBlock(block.data());

  result = link.KwpRetry(KwpRequest{0x18, 0x00, 0x00, 0x00});
  if (result != kKwpPositive) {
    ui.ShowMessage(FailureMessage(result, link, kSvcReadDtcByStatus));
    return result;
  }
  list = BuildDtcList(LastAnswer(link), errorMask);
  return kKwpPositive;
}

}  // namespace kvd
