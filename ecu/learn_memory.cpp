// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a learn-memory bank, its cell texts and its text file.
#include "ecu/learn_memory.h"

#include <algorithm>
#include <cstdio>

#include "data/cp1251.h"
#include "data/data_file.h"
#include "ecu/ecu_ui.h"
#include "ecu/poll_hold.h"
#include "link/kwp.h"
#include "session/diag_session.h"

namespace kvd {

namespace {

constexpr uint8_t kReadMemoryByAddress = 0x23;
constexpr uint8_t kReadMemoryAnswer = 0x63;

}  // namespace

uint16_t LearnBankBase(int32_t bank) {
  return bank == 1 ? 0xFD00 : 0xFE00;
}

std::string LearnCaption(int32_t bank) {
  char text[64];
  std::snprintf(text, sizeof text, kLearnCaptionPattern, bank == 1 ? 1 : 2);
  return text;
}

std::string LearnCellText(uint8_t value, char separator) {
  // factor = (value + 128) / 256 lies in 0.5 .. 1.496; two significant digits are hundredths
  // below 1 and tenths from 1 on. Integer arithmetic keeps the ties (0.625, 1.25) exact.
  const uint32_t n = value + 128u;
  uint32_t thousandths;
  if (n < 256) {
    thousandths = (n * 100 * 2 + 256) / 512 * 10;  // hundredths, half up
  } else {
    thousandths = (n * 10 * 2 + 256) / 512 * 100;  // tenths, half up
  }
  char text[16];
  std::snprintf(text, sizeof text, "%u%c%03u", thousandths / 1000, separator, thousandths % 1000);
  return text;
}

std::string LearnTableText(const LearnTable& table, char separator, const char* lineEnd) {
  std::string out = "###\t";
  for (uint16_t v : BlmColumnAxis) out += std::to_string(v) + '\t';
  out += lineEnd;
  for (int32_t row = 0; row < kLearnAxisSize; ++row) {
    out += std::to_string(BlmRowAxis[static_cast<size_t>(row)]) + '\t';
    for (int32_t col = 0; col < kLearnAxisSize; ++col)
      out +=
          LearnCellText(table[static_cast<size_t>(row * kLearnAxisSize + col)], separator) + '\t';
    out += lineEnd;
  }
  return out;
}

void WriteLearnFile(const std::filesystem::path& file, const LearnTable& table, char separator) {
  const std::string text = Utf8ToCp1251(LearnTableText(table, separator, "\r\n"));
  ReplacingFile out(file);
  const bool ok = out.IsOpen() && out.Write(text.data(), text.size()) && out.Commit();
  if (!ok) throw DataFileError(FileMessage(kMsgFileCreateFailed, file));
}

bool LearnBlockOfAnswer(std::span<const uint8_t> answer,
                        std::span<uint8_t, kLearnBlockSize> block) {
  if (answer.size() < kLearnBlockSize + 1 || answer[0] != kReadMemoryAnswer) return false;
  std::copy_n(answer.begin() + 1, kLearnBlockSize, block.begin());
  return true;
}

int32_t ReadLearnBank(DiagSession& session, int32_t bank, LearnTable& table) {
  EcuLink& link = session.Link();
  const uint16_t base = LearnBankBase(bank);
  LearnTable read{};
  session.PollEnabled = false;
  int32_t result = kKwpPositive;
  for (int32_t block = 0; block < kLearnBankSize / kLearnBlockSize; ++block) {
    const uint16_t address = static_cast<uint16_t>(base + block * kLearnBlockSize);
    result =
        link.KwpRetry(KwpRequest{kReadMemoryByAddress, 0x00, static_cast<uint8_t>(address >> 8),
                                 static_cast<uint8_t>(address & 0xFF), kLearnBlockSize});
    if (result != kKwpPositive) break;
    // A short answer does not count as the block.
    const std::span<uint8_t, kLearnBlockSize> to(read.data() + block * kLearnBlockSize,
                                                 kLearnBlockSize);
    if (!LearnBlockOfAnswer(LastAnswer(link), to)) {
      result = kKwpUnexpected;
      break;
    }
  }
  session.PollEnabled = true;
  if (result == kKwpPositive) table = read;
  return result;
}

bool ReadLearnMemory(DiagSession& session, EcuUi& ui, int32_t bank, LearnTable& table) {
  ui.SetBusyCursor(true);
  const int32_t result = ReadLearnBank(session, bank, table);
  ui.SetBusyCursor(false);
  if (result != kKwpPositive) {
    ui.ShowMessage(kLearnReadFailedText);
    return false;
  }
  return true;
}

}  // namespace kvd
