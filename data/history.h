// The recording of live data: every data block the poll cycle receives, with its time
// and selection marks, in one preallocated zero-filled block of 32 MiB.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "link/clock.h"

namespace kvd {

inline constexpr int32_t kRecordSize = 44;
inline constexpr int32_t kHistoryCapacity = 762600;     // 762,600 x 44 = 33,554,400
inline constexpr size_t kHistoryBlockBytes = 33554432;  // 32 MiB; the last 32 bytes unused
inline constexpr int32_t kRecordMarkOffset = 4;         // the MarkWord
inline constexpr int32_t kRecordPayloadOffset = 8;      // data block byte 2 lies here
inline constexpr int32_t kRecordPayloadSize = 34;       // data block bytes 2..35
inline constexpr uint32_t kMarkStartBit = 1;            // MarkWord bit 0
inline constexpr uint32_t kMarkEndBit = 2;              // MarkWord bit 1

// Little-endian helpers for the fixed-width integers of records and files.
inline uint16_t LoadLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// One record, exactly as it lies in the store and in a data file:
//   0..3 ElapsedMs (int32, LE), 4..7 MarkWord (uint32, LE), 8..41 data block bytes 2..35,
//   42..43 spare.
struct HistoryRecord {
  uint8_t Bytes[kRecordSize];

  int32_t ElapsedMs() const { return static_cast<int32_t>(LoadLE32(Bytes)); }
  void SetElapsedMs(int32_t ms) { StoreLE32(Bytes, static_cast<uint32_t>(ms)); }
  uint32_t MarkWord() const { return LoadLE32(Bytes + kRecordMarkOffset); }
  void SetMarkWord(uint32_t w) { StoreLE32(Bytes + kRecordMarkOffset, w); }
  bool HasStartMark() const { return (MarkWord() & kMarkStartBit) != 0; }
  bool HasEndMark() const { return (MarkWord() & kMarkEndBit) != 0; }
  // Data block byte b (2..35) is Bytes[b + 6].
  const uint8_t* Payload() const { return Bytes + kRecordPayloadOffset; }
};
static_assert(sizeof(HistoryRecord) == kRecordSize && alignof(HistoryRecord) == 1);

// A run of consecutive records: First .. First + Count - 1. Count 0 is empty.
struct RecordRange {
  int32_t First = 0;
  int32_t Count = 0;
  int32_t Last() const { return First + Count - 1; }
  bool operator==(const RecordRange&) const = default;
};

// The part of range that lies within 0..count-1 (Count 0 when nothing does).
inline RecordRange ClampRange(RecordRange r, int32_t count) {
  const int64_t first = r.First < 0 ? 0 : (r.First > count ? count : r.First);
  int64_t end = int64_t{r.First} + (r.Count > 0 ? r.Count : 0);
  if (end > count) end = count;
  if (end < first) end = first;
  return RecordRange{static_cast<int32_t>(first), static_cast<int32_t>(end - first)};
}

// The store. Owned by the diagnostic window; all calls on one thread. The store knows
// nobody who shows it: it reports through the callbacks below.
class HistoryStore {
 public:
  // Called after a record was appended, with its index.
  using AppendCallback = std::function<void(int32_t index)>;
  // Called once when an append is refused because the store is full (recording has
  // stopped; nothing stored is touched). Armed again by Reset and Load.
  using FullCallback = std::function<void()>;
  // Called after setting, moving or cancelling a mark changed the MarkWord of record index
  // (once per record changed; also for a slot past the history, whose stale bit was cleared).
  using MarkCallback = std::function<void(int32_t index)>;

  // Maps the 32 MiB block (zero-filled). Throws std::bad_alloc if the system refuses it.
  explicit HistoryStore(Clock& clock);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  int32_t RecordCount() const { return recordCount_; }
  bool IsFull() const { return recordCount_ >= kHistoryCapacity; }

  // Appends one data block (kDataBlockSize bytes, service id 61 first): ElapsedMs =
  // tick now - tick of the first record of the store's lifetime, data block bytes 2..35
  // to offsets 8..41; the slot's MarkWord stays as it is. Returns false, writing
  // nothing, when the store is full.
  bool Append(const uint8_t* dataBlock);

  // Empties the history. The bytes, the time origin and the marks stay.
  void Reset();

  // Takes n records that were already written to the start of the store (through
  // WritableRecords) as the history; n is clamped to 0..kHistoryCapacity. The marks
  // are taken from the records: the first record carrying MarkWord bit 0 becomes
  // SelectionStart, the first carrying bit 1 SelectionEnd (-1 when none); stray further
  // mark bits are cleared so that CancelSelection removes every mark, and so are the
  // bits of earlier marks beyond the n records.
  void Load(int32_t n);
  // Reads up to n records (clamped to the capacity) into the start of the store in pieces,
  // through read(to, bytes), which returns how many bytes it put there (fewer at the end of
  // what it has), and takes the whole records that arrived as the history, as Load does.
  // Returns their number.
  using RecordReader = std::function<size_t(uint8_t* to, size_t bytes)>;
  int32_t LoadFrom(const RecordReader& read, int32_t n);
  // Copies n records (n x 44 bytes, clamped to the capacity) to the start of the
  // store, then Load(n).
  void Load(const uint8_t* records, int32_t n);

  // Record index (0-based), nullptr for an index outside 0..RecordCount-1: a slot
  // beyond the history still holds old bytes and must not be read as data.
  const HistoryRecord* RecordAt(int32_t index) const;

  // The start of the block, for a reader to fill before Load(n); room for
  // kHistoryCapacity records.
  uint8_t* WritableRecords();
  const uint8_t* RecordBytes() const { return base_; }

  // Marks. An index outside 0..RecordCount-1 is ignored (returns false). Setting a
  // mark again moves it: the bit is cleared in the record that carried it.
  bool SetStartMark(int32_t index);
  bool SetEndMark(int32_t index);
  void CancelSelection();
  int32_t SelectionStart() const { return selectionStart_; }
  int32_t SelectionEnd() const { return selectionEnd_; }
  bool HasSelection() const;  // both marks on records of the history

  // The records from the earlier mark through the later mark (one record when both
  // marks coincide); nothing unless both marks lie on records of the history.
  std::optional<RecordRange> SelectedRange() const;
  // Every record 0 .. RecordCount-1.
  RecordRange AllRecords() const { return RecordRange{0, recordCount_}; }

  // Changes whenever records of the history may have changed other than by appending (Reset,
  // Load, WritableRecords, marks); a reader that keeps what it read of the records may keep it
  // while this stays the same.
  uint64_t Revision() const { return revision_; }

  void SetAppendCallback(AppendCallback cb) { onAppend_ = std::move(cb); }
  void SetFullCallback(FullCallback cb) { onFull_ = std::move(cb); }
  void SetMarkCallback(MarkCallback cb) { onMark_ = std::move(cb); }

 private:
  bool SetMark(int32_t& mark, uint32_t bit, int32_t index);
  void ScanMarks(int32_t from, int32_t to, int32_t& start, int32_t& end);
  void ScanMarkWords(int32_t from, int32_t to, int32_t& start, int32_t& end);
  void TakeLoaded(int32_t n, int32_t start, int32_t end);
  // Under AddressSanitizer: the bytes past the last record are poisoned (no-op otherwise).
  void PoisonPastRecords();
  void UnpoisonUpTo(size_t end);
  void ClearMarkBit(int32_t index, uint32_t bit);
  void MarkChanged(int32_t index) {
    if (onMark_) onMark_(index);
  }

  Clock& clock_;
  uint8_t* base_ = nullptr;
  int32_t recordCount_ = 0;
  bool started_ = false;
  uint32_t startTick_ = 0;
  bool fullReported_ = false;
  size_t unpoisonedEnd_ = 0;  // bytes from the start that may be unpoisoned
  int32_t selectionStart_ = -1;
  int32_t selectionEnd_ = -1;
  uint64_t revision_ = 0;
  AppendCallback onAppend_;
  FullCallback onFull_;
  MarkCallback onMark_;
};

// Whether this build poisons the bytes past the last record (AddressSanitizer builds), so
// that reading them is caught.
bool HistoryBlockPoisoned();

// The platform's zero-filled anonymous mapping (history_posix.cpp / history_win32.cpp).
uint8_t* MapHistoryBlock(size_t bytes);
void UnmapHistoryBlock(uint8_t* p, size_t bytes);

}  // namespace kvd
