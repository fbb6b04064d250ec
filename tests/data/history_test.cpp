// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/history.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_util.h"

namespace kvd {
namespace {

using kvdtest::Block;

class HistoryTest : public ::testing::Test {
 protected:
  // The tick counter does not start at 0, like a machine that has been running a while.
  VirtualClock clock{5'000'000'000ull};
  HistoryStore store{clock};
};

TEST_F(HistoryTest, StartsEmptyAndZeroFilled) {
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.RecordAt(0), nullptr);
  EXPECT_EQ(store.SelectionStart(), -1);
  EXPECT_EQ(store.SelectionEnd(), -1);
  const uint8_t* b = store.RecordBytes();
  for (size_t i : {size_t{0}, size_t{12345}, kHistoryBlockBytes - 1})
    EXPECT_EQ(kvdtest::PeekBlock(b, i), 0) << i;
}

TEST_F(HistoryTest, AppendStampsTimeAndCopiesPayloadBytes) {
  auto block = Block({{2, 0xA2}, {4, 0x21}, {6, 0x80}, {35, 0x5A}});
  std::vector<int32_t> appended;
  store.SetAppendCallback([&](int32_t i) { appended.push_back(i); });
  ASSERT_TRUE(store.Append(block.data()));
  clock.AdvanceMs(250);
  ASSERT_TRUE(store.Append(block.data()));
  clock.AdvanceMs(1250);
  ASSERT_TRUE(store.Append(block.data()));
  EXPECT_EQ(store.RecordCount(), 3);
  EXPECT_EQ(appended, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(store.RecordAt(0)->ElapsedMs(), 0);
  EXPECT_EQ(store.RecordAt(1)->ElapsedMs(), 250);
  EXPECT_EQ(store.RecordAt(2)->ElapsedMs(), 1500);
  const HistoryRecord& r = *store.RecordAt(2);
  EXPECT_EQ(r.Bytes[8], 0xA2);   // payload byte 2
  EXPECT_EQ(r.Bytes[10], 0x21);  // flag byte A at record offset 10
  EXPECT_EQ(r.Bytes[12], 0x80);  // error mask at 12..15
  EXPECT_EQ(r.Bytes[41], 0x5A);  // payload byte 35
  EXPECT_EQ(r.Bytes[42], 0);
  EXPECT_EQ(r.MarkWord(), 0u);
  EXPECT_EQ(ErrorMaskOfRecord(r.Bytes), 0x80000000u);
}

TEST_F(HistoryTest, FirstRecordAtTickZeroStillFixesTheOrigin) {
  VirtualClock zero(0);
  HistoryStore s(zero);
  auto b = Block();
  s.Append(b.data());
  zero.AdvanceMs(400);
  s.Append(b.data());
  EXPECT_EQ(s.RecordAt(0)->ElapsedMs(), 0);
  EXPECT_EQ(s.RecordAt(1)->ElapsedMs(), 400);
}

TEST_F(HistoryTest, TickCounterWrapKeepsElapsedTimeRight) {
  VirtualClock near(uint64_t{0xFFFFFF00u} * 1000);
  HistoryStore s(near);
  auto b = Block();
  s.Append(b.data());
  near.AdvanceMs(0x200);
  s.Append(b.data());
  EXPECT_EQ(s.RecordAt(1)->ElapsedMs(), 0x200);
}

TEST_F(HistoryTest, ResetKeepsTheTimeOriginAndOverwritesFromZero) {
  auto a = Block({{10, 1}});
  auto b = Block({{10, 2}});
  store.Append(a.data());
  clock.AdvanceMs(1000);
  store.Append(a.data());
  store.Append(a.data());
  store.Reset();
  EXPECT_EQ(store.RecordCount(), 0);
  EXPECT_EQ(store.RecordAt(0), nullptr);                      // old bytes are not data any more
  EXPECT_EQ(kvdtest::PeekBlock(store.RecordBytes(), 16), 1);  // ... but still lie in the block
  clock.AdvanceMs(500);
  store.Append(b.data());
  EXPECT_EQ(store.RecordCount(), 1);
  EXPECT_EQ(store.RecordAt(0)->ElapsedMs(), 1500);
  EXPECT_EQ(store.RecordAt(0)->Bytes[16], 2);
  EXPECT_EQ(store.RecordAt(1), nullptr);
}

TEST_F(HistoryTest, LoadTakesRecordsAndTheNextAppendFollowsThem) {
  std::vector<uint8_t> recs;
  for (int i = 0; i < 5; ++i) {
    auto r = kvdtest::Record(1000 * i, {{16, static_cast<uint8_t>(100 + i)}});
    recs.insert(recs.end(), r.begin(), r.end());
  }
  auto b = Block();
  store.Append(b.data());  // fixes the origin
  store.Load(recs.data(), 5);
  EXPECT_EQ(store.RecordCount(), 5);
  EXPECT_EQ(store.RecordAt(4)->ElapsedMs(), 4000);
  EXPECT_EQ(store.RecordAt(4)->Bytes[16], 104);
  clock.AdvanceMs(700);
  store.Append(b.data());
  EXPECT_EQ(store.RecordCount(), 6);
  EXPECT_EQ(store.RecordAt(5)->ElapsedMs(), 700);
  // Odd counts are clamped.
  store.Load(-3);
  EXPECT_EQ(store.RecordCount(), 0);
  store.Load(kHistoryCapacity + 10);
  EXPECT_EQ(store.RecordCount(), kHistoryCapacity);
}

TEST_F(HistoryTest, MarksMoveAndCancelAndGiveAnInclusiveRange) {
  auto b = Block();
  for (int i = 0; i < 10; ++i) store.Append(b.data());
  EXPECT_FALSE(store.SelectedRange());
  ASSERT_TRUE(store.SetStartMark(2));
  EXPECT_FALSE(store.SelectedRange());  // one mark alone is no selection
  EXPECT_FALSE(store.HasSelection());
  ASSERT_TRUE(store.SetStartMark(6));  // moved: bit 0 only on the last one
  EXPECT_EQ(store.RecordAt(2)->MarkWord(), 0u);
  EXPECT_EQ(store.RecordAt(6)->MarkWord(), kMarkStartBit);
  ASSERT_TRUE(store.SetEndMark(3));
  EXPECT_EQ(store.SelectedRange(), (RecordRange{3, 4}));  // end before start: swapped
  ASSERT_TRUE(store.SetEndMark(6));
  EXPECT_EQ(store.RecordAt(3)->MarkWord(), 0u);
  EXPECT_EQ(store.RecordAt(6)->MarkWord(), kMarkStartBit | kMarkEndBit);
  EXPECT_EQ(store.SelectedRange(), (RecordRange{6, 1}));  // both on one record
  EXPECT_FALSE(store.SetEndMark(10));                     // beyond the history: ignored
  EXPECT_FALSE(store.SetStartMark(-1));
  EXPECT_EQ(store.SelectionEnd(), 6);
  store.CancelSelection();
  EXPECT_EQ(store.SelectionStart(), -1);
  EXPECT_EQ(store.SelectionEnd(), -1);
  EXPECT_EQ(store.RecordAt(6)->MarkWord(), 0u);
  EXPECT_FALSE(store.SelectedRange());
}

TEST_F(HistoryTest, ResetKeepsMarksButARangeNeedsRecordsBehindThem) {
  auto b = Block();
  for (int i = 0; i < 10; ++i) store.Append(b.data());
  store.SetStartMark(1);
  store.SetEndMark(8);
  store.Reset();
  EXPECT_EQ(store.SelectionStart(), 1);
  EXPECT_EQ(store.SelectionEnd(), 8);
  EXPECT_FALSE(store.SelectedRange());
  for (int i = 0; i < 3; ++i) store.Append(b.data());
  EXPECT_FALSE(store.SelectedRange());  // end mark still beyond the history
  EXPECT_TRUE(store.RecordAt(1)->HasStartMark());
  for (int i = 0; i < 6; ++i) store.Append(b.data());
  EXPECT_EQ(store.SelectedRange(), (RecordRange{1, 8}));
}

TEST_F(HistoryTest, LoadTakesTheSelectionFromTheRecordsAndDropsStaleMarks) {
  auto b = Block();
  for (int i = 0; i < 20; ++i) store.Append(b.data());
  store.SetStartMark(15);  // beyond what will be loaded
  store.SetEndMark(1);
  std::vector<uint8_t> recs;
  for (int i = 0; i < 6; ++i) {
    auto r = kvdtest::Record(i * 250);
    uint32_t w = 0;
    if (i == 4) w = kMarkStartBit;
    if (i == 2) w = kMarkEndBit;
    if (i == 5) w = kMarkStartBit | 0x10;  // a second start bit and a foreign bit
    StoreLE32(r.data() + 4, w);
    recs.insert(recs.end(), r.begin(), r.end());
  }
  store.Load(recs.data(), 6);
  EXPECT_EQ(store.SelectionStart(), 4);
  EXPECT_EQ(store.SelectionEnd(), 2);
  EXPECT_EQ(store.SelectedRange(), (RecordRange{2, 3}));
  EXPECT_EQ(store.RecordAt(5)->MarkWord(), 0x10u);
  store.CancelSelection();
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(store.RecordAt(i)->MarkWord() & (kMarkStartBit | kMarkEndBit), 0u) << i;
  // The old start mark at 15 does not come back when the history grows to it.
  for (int i = 0; i < 12; ++i) store.Append(b.data());
  EXPECT_FALSE(store.RecordAt(15)->HasStartMark());
}

TEST_F(HistoryTest, FullStoreStopsRecordingTellsOnceAndKeepsItsRecords) {
  std::vector<uint8_t> recs(static_cast<size_t>(kHistoryCapacity) * kRecordSize, 0);
  StoreLE32(recs.data() + recs.size() - kRecordSize, 0x01020304);
  store.Load(recs.data(), kHistoryCapacity);
  int fullCalls = 0;
  int appendCalls = 0;
  store.SetFullCallback([&] { ++fullCalls; });
  store.SetAppendCallback([&](int32_t) { ++appendCalls; });
  auto b = Block({{10, 0xFF}});
  EXPECT_TRUE(store.IsFull());
  EXPECT_FALSE(store.Append(b.data()));
  EXPECT_FALSE(store.Append(b.data()));
  EXPECT_EQ(fullCalls, 1);
  EXPECT_EQ(appendCalls, 0);
  EXPECT_EQ(store.RecordCount(), kHistoryCapacity);
  EXPECT_EQ(store.RecordAt(kHistoryCapacity - 1)->ElapsedMs(), 0x01020304);
  EXPECT_EQ(store.RecordAt(kHistoryCapacity), nullptr);
  // Nothing was written into the 32 spare bytes at the end of the block.
  for (size_t i = size_t{kHistoryCapacity} * kRecordSize; i < kHistoryBlockBytes; ++i)
    ASSERT_EQ(kvdtest::PeekBlock(store.RecordBytes(), i), 0) << i;
  store.Reset();
  EXPECT_TRUE(store.Append(b.data()));
  store.Load(kHistoryCapacity);
  EXPECT_FALSE(store.Append(b.data()));
  EXPECT_EQ(fullCalls, 2);  // armed again after Reset/Load
}

TEST(HistoryRecordLayout, FieldsAreLittleEndianAtFixedOffsets) {
  HistoryRecord r{};
  r.SetElapsedMs(0x12345678);
  r.SetMarkWord(kMarkEndBit);
  EXPECT_EQ(r.Bytes[0], 0x78);
  EXPECT_EQ(r.Bytes[3], 0x12);
  EXPECT_EQ(r.Bytes[4], 0x02);
  EXPECT_TRUE(r.HasEndMark());
  EXPECT_FALSE(r.HasStartMark());
  r.SetElapsedMs(-1);
  EXPECT_EQ(r.ElapsedMs(), -1);
  EXPECT_EQ(r.Payload(), r.Bytes + 8);
  EXPECT_EQ(ClampRange({-5, 10}, 3), (RecordRange{0, 3}));
  EXPECT_EQ(ClampRange({2, 100}, 5), (RecordRange{2, 3}));
  EXPECT_EQ(ClampRange({7, 1}, 5), (RecordRange{5, 0}));
  EXPECT_EQ(ClampRange({1, -4}, 5), (RecordRange{1, 0}));
}

// Reads one byte so that the compiler cannot drop the read.
uint8_t Touch(const uint8_t* p) {
  return *static_cast<const volatile uint8_t*>(p);
}

// In sanitizer builds the bytes past the last record are poisoned: a read past the history
// (an index one too far, a stale slot after Reset or Load) is caught where it happens.
TEST(HistoryPoisonDeathTest, AReadPastTheLastRecordIsCaught) {
  if (!HistoryBlockPoisoned()) GTEST_SKIP() << "only AddressSanitizer builds poison the block";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  VirtualClock clock;
  HistoryStore store(clock);
  const uint8_t* block = store.RecordBytes();
  auto b = Block({{35, 0x5A}});
  EXPECT_DEATH(Touch(block), "use-after-poison");
  for (int i = 0; i < 3; ++i) store.Append(b.data());
  EXPECT_EQ(Touch(block + 3 * kRecordSize - 3), 0x5A);  // last payload byte of record 2
  EXPECT_DEATH(Touch(block + 3 * kRecordSize), "use-after-poison");
  EXPECT_DEATH(Touch(block + kHistoryBlockBytes - 1), "use-after-poison");

  // Marks left past the history by Reset are still cleared without a false alarm.
  store.SetStartMark(2);
  store.Reset();
  EXPECT_DEATH(Touch(block), "use-after-poison");
  store.CancelSelection();
  EXPECT_EQ(kvdtest::PeekBlock(block, 2 * kRecordSize + 4), 0);

  std::vector<uint8_t> two(2 * kRecordSize, 0x11);
  store.Load(two.data(), 2);
  EXPECT_EQ(Touch(block + 2 * kRecordSize - 1), 0x11);
  EXPECT_DEATH(Touch(block + 2 * kRecordSize), "use-after-poison");
  // A reader filling the block directly may write anywhere until it loads.
  uint8_t* writable = store.WritableRecords();
  writable[4 * kRecordSize - 1] = 0x22;
  writable[5 * kRecordSize] = 0x33;
  store.Load(4);
  EXPECT_EQ(Touch(block + 4 * kRecordSize - 1), 0x22);
  EXPECT_DEATH(Touch(block + 4 * kRecordSize), "use-after-poison");
  EXPECT_DEATH(Touch(block + 5 * kRecordSize), "use-after-poison");
}

}  // namespace
}  // namespace kvd
