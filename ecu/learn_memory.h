// The learn memory: reading one bank of the ECU's correction factors, the texts of its
// cells and the tab-separated text file the learn-memory window saves.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace kvd {

class DiagSession;
class EcuUi;

// One bank: byte k belongs to grid column (k mod 16) + 1 and grid row (k div 16) + 1.
inline constexpr int32_t kLearnBankSize = 256;
inline constexpr int32_t kLearnBlockSize = 64;  // bytes per ReadMemoryByAddress request
inline constexpr int32_t kLearnAxisSize = 16;
using LearnTable = std::array<uint8_t, kLearnBankSize>;

// The axes of the grid: engine speed over the columns, load over the rows.
inline constexpr std::array<uint16_t, kLearnAxisSize> BlmColumnAxis = {
    600, 720, 840, 990, 1170, 1380, 1650, 1950, 2310, 2730, 3210, 3840, 4530, 5370, 6360, 7500};
inline constexpr std::array<uint16_t, kLearnAxisSize> BlmRowAxis = {
    30, 58, 86, 114, 142, 170, 198, 226, 254, 282, 310, 338, 366, 394, 422, 450};

inline constexpr char kLearnReadFailedText[] = "ПО не поддерживает чтение памяти обучения.";
inline constexpr char kLearnCaptionPattern[] = "Память обучения, банк %d";

// Base address of bank 1 (0xFD00) or bank 2 (0xFE00); any other number counts as bank 2.
uint16_t LearnBankBase(int32_t bank);
// The caption of the window showing the bank.
std::string LearnCaption(int32_t bank);

// The correction factor of a byte, (byte + 128) / 256, rounded to two significant digits
// (half away from zero) and written with three decimals: 00 "0.500", 20 "0.630",
// 7F "1.000", C0 "1.300", FF "1.500".
std::string LearnCellText(uint8_t value, char separator);

// The table as text: the head line "###" and the column axis, then one line per row with
// the row axis value and the 16 cell texts; every field is followed by a tab, every line
// by lineEnd. UTF-8.
std::string LearnTableText(const LearnTable& table, char separator, const char* lineEnd);

// Writes the table as the window saves it: Windows-1251, CR LF, through a temporary file
// renamed over the target. Throws DataFileError with "Ошибка при создании файла %s".
void WriteLearnFile(const std::filesystem::path& file, const LearnTable& table, char separator);

// The 64 bytes of one block from a ReadMemoryByAddress answer (message bytes, service byte
// first: 63, then the memory). False, with block unchanged, for any other service byte or an
// answer that does not hold the 64 bytes.
bool LearnBlockOfAnswer(std::span<const uint8_t> answer, std::span<uint8_t, kLearnBlockSize> block);

// Reads one bank with four ReadMemoryByAddress requests (23 00 hi lo 40), holding the poll
// cycle meanwhile. Returns 0 with the bank in `table`, or the failing block's result: the
// KwpRetry result when the exchange failed, kKwpUnexpected (2) for a positive answer that
// does not hold the 64 bytes. `table` is left unchanged on failure.
int32_t ReadLearnBank(DiagSession& session, int32_t bank, LearnTable& table);

// The command: ReadLearnBank with the hourglass cursor; on failure the message
// "ПО не поддерживает чтение памяти обучения." is shown and the result is false.
bool ReadLearnMemory(DiagSession& session, EcuUi& ui, int32_t bank, LearnTable& table);

}  // namespace kvd
