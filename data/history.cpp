// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/history.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVD_HISTORY_POISON 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(KVD_HISTORY_POISON)
#define KVD_HISTORY_POISON 1
#endif
#ifdef KVD_HISTORY_POISON
#include <sanitizer/asan_interface.h>
#endif

namespace kvd {

// The block is one mapping that AddressSanitizer does not watch by itself. Under the sanitizer
// the bytes past the last record are poisoned, so that a read past the history is caught
// instead of quietly returning an old record; appends unpoison the slot they fill.
bool HistoryBlockPoisoned() {
#ifdef KVD_HISTORY_POISON
  return true;
#else
  return false;
#endif
}

namespace {

[[maybe_unused]] void Poison(uint8_t* from, size_t bytes) {
#ifdef KVD_HISTORY_POISON
  ASAN_POISON_MEMORY_REGION(from, bytes);
#else
  (void)from;
  (void)bytes;
#endif
}

void Unpoison(uint8_t* from, size_t bytes) {
#ifdef KVD_HISTORY_POISON
  ASAN_UNPOISON_MEMORY_REGION(from, bytes);
#else
  (void)from;
  (void)bytes;
#endif
}

}  // namespace

void HistoryStore::PoisonPastRecords() {
  // Only the part that was unpoisoned since the last time needs it again.
  const size_t used = static_cast<size_t>(recordCount_) * kRecordSize;
  if (unpoisonedEnd_ > used) Poison(base_ + used, unpoisonedEnd_ - used);
  unpoisonedEnd_ = used;
}

void HistoryStore::UnpoisonUpTo(size_t end) {
  const size_t from = std::min(unpoisonedEnd_, end);
  Unpoison(base_ + from, end - from);
  unpoisonedEnd_ = std::max(unpoisonedEnd_, end);
}

uint8_t* HistoryStore::WritableRecords() {
  // The caller fills records before Load(n), which poisons what lies past them again.
  UnpoisonUpTo(kHistoryBlockBytes);
  ++revision_;
  return base_;
}

HistoryStore::HistoryStore(Clock& clock) : clock_(clock) {
  base_ = MapHistoryBlock(kHistoryBlockBytes);
  if (base_ == nullptr) throw std::bad_alloc();
  unpoisonedEnd_ = kHistoryBlockBytes;
  PoisonPastRecords();
}

HistoryStore::~HistoryStore() {
  // A later mapping at the same address must not inherit the poison.
  Unpoison(base_, kHistoryBlockBytes);
  UnmapHistoryBlock(base_, kHistoryBlockBytes);
}

bool HistoryStore::Append(const uint8_t* dataBlock) {
  if (dataBlock == nullptr) return false;
  if (recordCount_ >= kHistoryCapacity) {
    // Recording stops when the store is full; what is stored stays as it is.
    if (!fullReported_) {
      fullReported_ = true;
      if (onFull_) onFull_();
    }
    return false;
  }
  const uint32_t now = clock_.TickCount();
  if (!started_) {
    started_ = true;
    startTick_ = now;
  }
  uint8_t* slot = base_ + static_cast<size_t>(recordCount_) * kRecordSize;
  UnpoisonUpTo(static_cast<size_t>(recordCount_ + 1) * kRecordSize);
  StoreLE32(slot, now - startTick_);
  std::memcpy(slot + kRecordPayloadOffset, dataBlock + 2, kRecordPayloadSize);
  const int32_t index = recordCount_++;
  if (onAppend_) onAppend_(index);
  return true;
}

void HistoryStore::Reset() {
  ++revision_;
  recordCount_ = 0;
  fullReported_ = false;
  PoisonPastRecords();
}

// The marks come from the records: the first record carrying each bit holds the mark, further
// bits of the same kind (never written by this program) are dropped.
void HistoryStore::ScanMarks(int32_t from, int32_t to, int32_t& start, int32_t& end) {
  // Marks are rare: the mark words of a group of records are looked at together, without a
  // branch per record, and only a group with a bit set is looked at record by record. Opening a
  // full file costs about a read of it this way.
  constexpr int32_t kGroup = 16;
  int32_t i = from;
  for (; i + kGroup <= to; i += kGroup) {
    const uint8_t* words = base_ + static_cast<size_t>(i) * kRecordSize + 4;
    uint32_t any = 0;
    for (int32_t k = 0; k < kGroup; ++k) {
      // Only "is any bit set" is asked here, which the byte order does not change: one load.
      uint32_t bits;
      std::memcpy(&bits, words + static_cast<size_t>(k) * kRecordSize, sizeof bits);
      any |= bits;
    }
    if (any != 0) ScanMarkWords(i, i + kGroup, start, end);
  }
  ScanMarkWords(i, to, start, end);
}

void HistoryStore::ScanMarkWords(int32_t from, int32_t to, int32_t& start, int32_t& end) {
  for (int32_t i = from; i < to; ++i) {
    uint8_t* r = base_ + static_cast<size_t>(i) * kRecordSize;
    uint32_t w = LoadLE32(r + 4);
    if (w == 0) continue;
    const uint32_t before = w;
    if (w & kMarkStartBit) {
      if (start < 0)
        start = i;
      else
        w &= ~kMarkStartBit;
    }
    if (w & kMarkEndBit) {
      if (end < 0)
        end = i;
      else
        w &= ~kMarkEndBit;
    }
    if (w != before) StoreLE32(r + 4, w);
  }
}

void HistoryStore::TakeLoaded(int32_t n, int32_t start, int32_t end) {
  Reset();
  recordCount_ = n;
  UnpoisonUpTo(static_cast<size_t>(recordCount_) * kRecordSize);
  // Old marks beyond the loaded records would come back on later appends: drop them.
  if (selectionStart_ >= recordCount_) ClearMarkBit(selectionStart_, kMarkStartBit);
  if (selectionEnd_ >= recordCount_) ClearMarkBit(selectionEnd_, kMarkEndBit);
  selectionStart_ = start;
  selectionEnd_ = end;
}

void HistoryStore::Load(int32_t n) {
  n = std::clamp(n, 0, kHistoryCapacity);
  UnpoisonUpTo(static_cast<size_t>(n) * kRecordSize);
  int32_t start = -1;
  int32_t end = -1;
  ScanMarks(0, n, start, end);
  TakeLoaded(n, start, end);
}

int32_t HistoryStore::LoadFrom(const RecordReader& read, int32_t n) {
  n = std::clamp(n, 0, kHistoryCapacity);
  UnpoisonUpTo(static_cast<size_t>(n) * kRecordSize);
  ++revision_;
  // About 180 KB of whole records at a time: the marks of a piece are looked at while its
  // bytes are still in the cache.
  constexpr size_t kPiece = size_t{kRecordSize} * 4096;
  const size_t want = static_cast<size_t>(n) * kRecordSize;
  size_t got = 0;
  int32_t scanned = 0;
  int32_t start = -1;
  int32_t end = -1;
  while (got < want) {
    const size_t ask = std::min(kPiece, want - got);
    const size_t arrived = std::min(read ? read(base_ + got, ask) : 0, ask);
    got += arrived;
    const auto whole = static_cast<int32_t>(got / kRecordSize);
    ScanMarks(scanned, whole, start, end);
    scanned = whole;
    if (arrived < ask) break;  // the end of what there is to read
  }
  TakeLoaded(scanned, start, end);
  return scanned;
}

void HistoryStore::Load(const uint8_t* records, int32_t n) {
  n = records == nullptr ? 0 : std::clamp(n, 0, kHistoryCapacity);
  if (n > 0) {
    UnpoisonUpTo(static_cast<size_t>(n) * kRecordSize);
    std::memmove(base_, records, static_cast<size_t>(n) * kRecordSize);
  }
  Load(n);
}

const HistoryRecord* HistoryStore::RecordAt(int32_t index) const {
  if (index < 0 || index >= recordCount_) return nullptr;
  return reinterpret_cast<const HistoryRecord*>(base_ + static_cast<size_t>(index) * kRecordSize);
}

void HistoryStore::ClearMarkBit(int32_t index, uint32_t bit) {
  if (index < 0 || index >= kHistoryCapacity) return;
  ++revision_;
  uint8_t* r = base_ + static_cast<size_t>(index) * kRecordSize;
  // A mark may stay on a slot past the history (after Reset): its bit is cleared there too,
  // so that a later append into that slot does not bring it back.
  const bool past = index >= recordCount_;
  if (past) UnpoisonUpTo(static_cast<size_t>(index + 1) * kRecordSize);
  StoreLE32(r + 4, LoadLE32(r + 4) & ~bit);
  if (past) PoisonPastRecords();
}

bool HistoryStore::SetMark(int32_t& mark, uint32_t bit, int32_t index) {
  if (index < 0 || index >= recordCount_) return false;
  const int32_t old = mark;
  if (old >= 0 && old != index) {
    ClearMarkBit(old, bit);
    MarkChanged(old);
  }
  mark = index;
  ++revision_;
  uint8_t* r = base_ + static_cast<size_t>(index) * kRecordSize;
  StoreLE32(r + 4, LoadLE32(r + 4) | bit);
  MarkChanged(index);
  return true;
}

bool HistoryStore::SetStartMark(int32_t index) {
  return SetMark(selectionStart_, kMarkStartBit, index);
}

bool HistoryStore::SetEndMark(int32_t index) {
  return SetMark(selectionEnd_, kMarkEndBit, index);
}

void HistoryStore::CancelSelection() {
  const int32_t start = selectionStart_;
  const int32_t end = selectionEnd_;
  if (start >= 0) ClearMarkBit(start, kMarkStartBit);
  if (end >= 0) ClearMarkBit(end, kMarkEndBit);
  selectionStart_ = -1;
  selectionEnd_ = -1;
  if (start >= 0) MarkChanged(start);
  if (end >= 0 && end != start) MarkChanged(end);
}

bool HistoryStore::HasSelection() const {
  return selectionStart_ >= 0 && selectionStart_ < recordCount_ && selectionEnd_ >= 0 &&
         selectionEnd_ < recordCount_;
}

std::optional<RecordRange> HistoryStore::SelectedRange() const {
  if (!HasSelection()) return std::nullopt;
  const int32_t first = std::min(selectionStart_, selectionEnd_);
  const int32_t last = std::max(selectionStart_, selectionEnd_);
  return RecordRange{first, last - first + 1};
}

}  // namespace kvd
