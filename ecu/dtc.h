// Trouble codes: the list built from the ECU's ReadDTCByStatus answer and the current error
// mask, the texts of its grid, and the one-shot read of the command line.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ecu/dtc_text.h"

namespace kvd {

class DiagSession;
class EcuUi;

// One trouble code of the list.
struct DtcListEntry {
  uint16_t Code = 0;    // the code; 0 ends the list
  uint8_t Current = 0;  // 1: its bit is set in the current error mask
  uint8_t Stored = 0;   // 1: the ECU reported it as stored

  bool operator==(const DtcListEntry&) const = default;
};

constexpr size_t kDtcListSize = 256;
// The codes of one answer, ended by the first entry whose Code is 0.
using DtcList = std::array<DtcListEntry, kDtcListSize>;

// The code behind each bit of the error mask (bit 0 = least significant bit of byte 9).
extern const std::array<uint16_t, 32> MaskCodeTable;

// The list from a ReadDTCByStatus answer (message bytes, service byte first: 58 n, then n
// groups of code high, code low, status) and the current error mask. The count byte is not
// trusted beyond the answer: only groups that the answer holds completely are taken.
DtcList BuildDtcList(std::span<const uint8_t> answer, uint32_t errorMask);

// The number of entries before the first zero code; 0 when none of them is zero.
size_t DtcCount(const DtcList& list);

// "P" and the code as four upper-case hexadecimal digits (0x0325: "P0325").
std::string DtcCodeName(uint16_t code);

// The grid of the list: the header row, and per code its name, "Текущая", "Сохр." and the
// description in the chosen language. UTF-8.
using DtcGridRow = std::array<std::string, 4>;
inline constexpr std::array<const char*, 4> kDtcGridHeader = {"Ошибка", "Текущая", "Сохр.",
                                                              "Описание"};
inline constexpr char kDtcYes[] = "   ДА";
inline constexpr char kDtcNo[] = "     ";
std::vector<DtcGridRow> DtcGridRows(const DtcList& list, DtcLanguage language);

// One read of the trouble codes outside the poll cycle: the live data once for the error
// mask (21 01), then ReadDTCByStatus (18 00 00 00), each with the link's retries; with
// clearFirst the codes are cleared before, as the clear request of the poll cycle does.
// The poll cycle is held while it runs. Returns 0 and fills list, or the failing result
// (a failed clear, an ECU refusal: above 0; a broken link: below 0) after the message has
// been shown through ui.
int32_t ReadTroubleCodesOnce(DiagSession& session, EcuUi& ui, bool clearFirst, DtcList& list);

}  // namespace kvd
