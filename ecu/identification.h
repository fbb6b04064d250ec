// Identification records of the ECU: the eleven reads, the dialog's data and the five writes.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ecu/ecu_ui.h"

namespace kvd {

class DiagSession;

constexpr size_t kIdentRecordCount = 11;
// Room for the text of a write: the request holds at most 255 bytes, two of them 3B and the id.
constexpr size_t kIdentMaxWriteText = 253;

// One row of the identification table, in the order of reading, showing and writing.
struct IdentRecordInfo {
  const char* Label;    // UTF-8
  uint8_t ReadService;  // 21 or 1A
  uint8_t Id;           // local identifier of the read (and of the write)
  bool Writable;        // written with 3B Id
};

const std::array<IdentRecordInfo, kIdentRecordCount>& IdentRecordTable();

// The records as Windows-1251 bytes, in table order.
using IdentValues = std::array<std::string, kIdentRecordCount>;

// Result codes of the identification command beyond the link's results.
enum : int32_t {
  kIdentNotSaved = 20,   // the dialog was closed without "Сохранить": nothing written
  kIdentNotOnline = 21,  // the session ended while the dialog was open: nothing written
};

// The value of a positive answer: the bytes after the service byte and the identifier. An
// answer of fewer than two bytes holds no value (an empty one, never a negative length).
std::string IdentValueOfAnswer(std::span<const uint8_t> answer);

// The text padded with blanks up to maxLength; maxLength 0 (an empty record) leaves it as typed.
std::string PadIdentText(std::string text, size_t maxLength);

// The identification dialog as the command needs it (the window's dialog; a scripted fake in
// the tests). Texts are Windows-1251 bytes.
class IdentEditor {
 public:
  virtual ~IdentEditor() = default;
  // Shows the records: record i gets an edit box with maxLengths[i] as its maximum (0: not
  // limited), read-only when the record cannot be written. Returns the boxes' texts when the
  // user chose "Сохранить", nothing when the dialog was closed otherwise.
  virtual std::optional<IdentValues> EditIdentification(const IdentValues& values) = 0;
};

// The eleven reads with the poll cycle held and the hourglass cursor. On a failure shows
// "Связь прервана: ReadDataByLocalIdentifier" (the session stays open) and returns the
// link's result; the records read before the failure are in `values`.
int32_t ReadIdentification(DiagSession& session, EcuUi& ui, IdentValues& values);

// The texts of the writable records padded as the dialog pads them: each with blanks up to
// the length of the record as it was read (asRead); an empty record leaves its text as typed.
IdentValues PadIdentValues(const IdentValues& texts, const IdentValues& asRead);

// The five writes in table order (records 1, 2, 3, 4, 9), each text cut to the room of a
// request, with the poll cycle held and the hourglass cursor. On a failure shows the write
// message with the advice to stop the engine, stops and returns the link's result.
// A write the adapter cannot carry (kKwpTooLong) is refused before any record is written, with
// IdentTooLongMessage.
int32_t WriteIdentification(DiagSession& session, EcuUi& ui, const IdentValues& texts);

// The whole command of the menu: read, show, and write after "Сохранить".
int32_t RunIdentification(DiagSession& session, EcuUi& ui, IdentEditor& editor);

// The write message: "Связь прервана: WriteDataByLocalIdentifier" and the advice.
std::string IdentWriteFailedMessage();
// Why nothing was written: the adapter sends at most maxRequest message bytes, a record's write
// needs more, and a KKL cable can write it.
std::string IdentTooLongMessage(size_t maxRequest);

}  // namespace kvd
