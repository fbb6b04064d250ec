// SPDX-License-Identifier: GPL-3.0-or-later
// Floating parameter windows of the diagnostic window: the sixteen slots, the chooser, the home
// positions, the value under pane 1's cursor, and the slots in the user store.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <deque>

#include "data/text_export.h"
#include "diag_window_fixture.h"
#include "ui/float_params.h"
#include "ui/frm_graph.h"
#include "ui/param_list.h"
#include "ui/param_win.h"

namespace kvd::testing {
namespace {

void DoubleClick(QWidget* target) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QMouseEvent e(QEvent::MouseButtonDblClick, at, target->mapToGlobal(at), Qt::LeftButton,
                Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &e);
  // Closed windows go when the event loop next runs.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class FloatingTest : public DiagWindowTest {
 protected:
  // The chooser answers from a queue (an empty queue cancels).
  void Script(TFormDiagJ5E2& w) {
    w.Floats().Chooser = [this]() -> std::optional<ParameterNumber> {
      if (choices_.empty()) return std::nullopt;
      const ParameterNumber n = choices_.front();
      choices_.pop_front();
      return n;
    };
  }
  void Add(TFormDiagJ5E2& w, ParameterNumber n) {
    choices_.push_back(n);
    w.Action("miAddFloat")->trigger();
  }
  std::deque<ParameterNumber> choices_;
};

TEST_F(FloatingTest, SixteenSlotsLowestFreeFirstAndTheMenuItems) {
  TFormDiagJ5E2& w = Open();
  Script(w);
  FloatingParameters& f = w.Floats();
  QAction* arrange = w.Action("miArrangeFloat");
  QAction* removeAll = w.Action("miRemoveFloat");
  EXPECT_TRUE(w.Action("miAddFloat")->isEnabled());
  EXPECT_FALSE(arrange->isEnabled());
  EXPECT_FALSE(removeAll->isEnabled());

  w.Action("miAddFloat")->trigger();  // cancelled chooser: nothing changes
  EXPECT_EQ(f.Count(), 0);
  EXPECT_FALSE(arrange->isEnabled());

  for (int i = 0; i < 16; ++i) Add(w, i % kParameterCount + 1);
  ASSERT_EQ(f.Count(), 16);
  EXPECT_TRUE(arrange->isEnabled());
  EXPECT_TRUE(removeAll->isEnabled());
  EXPECT_TRUE(messages_.empty());
  for (int s = 0; s < 16; ++s) {
    ASSERT_NE(f.Window(s), nullptr) << s;
    EXPECT_EQ(f.Window(s)->Number(), s + 1);
    EXPECT_EQ(f.Window(s)->NameText(), QString::fromStdString(LookupParameter(s + 1)->Name));
    EXPECT_EQ(f.Window(s)->size(), QSize(195, 27));
    EXPECT_TRUE(f.Window(s)->isVisible());
  }

  // The 17th is refused before the chooser shows; nothing else changes.
  Add(w, 30);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QStringLiteral("Слишком много \"плавающих\" параметров."));
  EXPECT_EQ(choices_.size(), 1u) << "the chooser must not be asked";
  choices_.clear();
  EXPECT_EQ(f.Count(), 16);

  // Double-clicks (on the value, on the name, on the border) free slots 9, 3 and 12; the next
  // windows take 3, then 9, then 12.
  DoubleClick(f.Window(9)->ValueLabel());
  DoubleClick(f.Window(3)->NameLabel());
  DoubleClick(f.Window(12));
  EXPECT_EQ(f.Count(), 13);
  EXPECT_EQ(f.Window(3), nullptr);
  EXPECT_TRUE(arrange->isEnabled()) << "closing single windows leaves the items enabled";
  Add(w, 20);
  EXPECT_EQ(f.Window(3)->Number(), 20);
  EXPECT_EQ(f.FirstFreeSlot(), 9);
  Add(w, 21);
  Add(w, 22);
  EXPECT_EQ(f.Window(9)->Number(), 21);
  EXPECT_EQ(f.Window(12)->Number(), 22);

  w.Action("miRemoveFloat")->trigger();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(f.Count(), 0);
  EXPECT_FALSE(arrange->isEnabled());
  EXPECT_FALSE(removeAll->isEnabled());
  Add(w, 5);
  EXPECT_EQ(f.Window(0)->Number(), 5);
}

TEST_F(FloatingTest, HomePositionsAndRearranging) {
  const QSize size(195, 27);
  const struct {
    int slot;
    QPoint home;
  } cases[] = {{0, {0, 0}},   {1, {0, 29}},   {7, {0, 203}},
               {8, {195, 0}}, {9, {195, 29}}, {15, {195, 203}}};
  for (const auto& c : cases)
    EXPECT_EQ(FloatingParameters::HomePosition(c.slot, size), c.home) << c.slot;

  TFormDiagJ5E2& w = Open();
  Script(w);
  for (int i = 0; i < 10; ++i) Add(w, 7);
  FloatingParameters& f = w.Floats();
  EXPECT_EQ(f.Window(9)->pos(), QPoint(195, 29)) << "a new window opens at its home";
  f.Window(9)->move(400, 300);
  f.Window(2)->move(-20, 500);
  DoubleClick(f.Window(5));
  w.Action("miArrangeFloat")->trigger();
  for (int s : {0, 2, 7, 9}) EXPECT_EQ(f.Window(s)->pos(), f.HomePosition(s, size)) << s;
  EXPECT_EQ(f.Window(5), nullptr);
}

TEST_F(FloatingTest, WindowsShowTheRecordUnderPaneOnesCursor) {
  TFormDiagJ5E2& w = Open();
  Script(w);
  Connect();
  Ticks(6);
  Add(w, 1);
  Add(w, 7);
  FloatingParameters& f = w.Floats();
  // A new window shows its placeholder until pane 1 is drawn again.
  EXPECT_EQ(f.Window(1)->ValueText(), QStringLiteral("0,000"));
  auto expected = [&](int slot, int32_t record) {
    const ParameterDescriptor& d = f.Window(slot)->Descriptor();
    return QString::fromStdString(
        FormatParameterValue(d, DecodeValue(d, *w.History().RecordAt(record)), 5, '.'));
  };
  Ticks(1);  // record 6 at the right edge, the cursor on it
  ASSERT_EQ(w.History().RecordCount(), 7);
  for (int s : {0, 1}) EXPECT_EQ(f.Window(s)->ValueText(), expected(s, 6)) << s;

  // Paused, the arrow keys move the cursor and every window follows it.
  w.Action("miPause")->trigger();
  ASSERT_TRUE(w.Session().Paused);
  for (int step = 1; step <= 3; ++step) {
    w.miLeftClick();
    for (int s : {0, 1}) EXPECT_EQ(f.Window(s)->ValueText(), expected(s, 6 - step)) << step;
  }
  // Left of the first record there is no value.
  w.Pane(0)->SetCursor(20);
  for (int s : {0, 1}) EXPECT_EQ(f.Window(s)->ValueText(), QStringLiteral("- - - -"));
  w.Pane(0)->CursorToLast();
  EXPECT_EQ(f.Window(0)->ValueText(), expected(0, 6));

  // While pane 1 is collapsed its chart is not drawn: the windows keep their text.
  w.Pane(0)->SetGraphShown(false);
  w.Pane(0)->SetCursor(37);
  EXPECT_EQ(f.Window(0)->ValueText(), expected(0, 6));
  w.Pane(0)->SetGraphShown(true);
  w.Pane(0)->Redraw();
  EXPECT_EQ(f.Window(0)->ValueText(), expected(0, 4));

  // After a reset the old bytes of record 0 are no record.
  w.Action("miResetData")->trigger();
  EXPECT_EQ(f.Window(0)->ValueText(), QStringLiteral("- - - -"));
}

TEST_F(FloatingTest, ValueTextsOfFlagsAndBitPatterns) {
  QWidget owner;
  FloatingParameters f(&owner);
  // Find a flag and a bit-pattern parameter of the catalogue, and a plain number.
  int flag = 0, bits = 0, number = 0;
  for (int n = 1; n <= kParameterCount; ++n) {
    const int t = LookupParameter(n)->ValueType;
    if (t == kValueFlag && !flag) flag = n;
    if (t == kValueBitPattern && !bits) bits = n;
    if (t == kValueUnsignedByteMasked && LookupParameter(n)->Decimals > 0 && !number) number = n;
  }
  ASSERT_TRUE(flag && number);
  uint8_t record[kRecordSize];
  std::fill(std::begin(record), std::end(record), 0xFF);
  TfrmParamWin* wf = f.AddAt(0, flag, 0, {});
  wf->ShowRecord(record);
  EXPECT_EQ(wf->ValueText(), QStringLiteral("ДА"));
  std::fill(std::begin(record), std::end(record), 0x00);
  wf->ShowRecord(record);
  EXPECT_EQ(wf->ValueText(), QStringLiteral("НЕТ"));
  if (bits) {
    std::fill(std::begin(record), std::end(record), 0x05);
    TfrmParamWin* wb = f.AddAt(1, bits, 0, {});
    wb->ShowRecord(record);
    const int mask = LookupParameter(bits)->Mask;
    QString digits;
    for (int k = 7; k >= 0; --k) digits += ((0x05 & mask) >> k & 1) ? '1' : '0';
    EXPECT_EQ(wb->ValueText(), digits);
  }
  TfrmParamWin* wn = f.AddAt(2, number, 0, {});
  wn->ShowRecord(nullptr);
  EXPECT_EQ(wn->ValueText(), QStringLiteral("- - - -"));
  // Out-of-range slots and numbers make nothing.
  EXPECT_EQ(f.AddAt(16, 1, 0, {}), nullptr);
  EXPECT_EQ(f.AddAt(-1, 1, 0, {}), nullptr);
  EXPECT_EQ(f.AddAt(3, 0, 0, {}), nullptr);
  EXPECT_EQ(f.AddAt(3, 35, 0, {}), nullptr);
  EXPECT_EQ(f.Count(), bits ? 3 : 2);
}

TEST_F(FloatingTest, RestoreWritesDefaultsPullsBackAndRunsOnce) {
  UserSettings& s = *settings_;
  auto key = [](int slot) { return FloatingParameters::SlotKey(slot); };
  // slot: NumInSet, Left, Top as stored ("" = absent)
  s.WriteInt(key(1), "NumInSet", 5);
  s.WriteInt(key(1), "Left", 5000);  // beyond the right edge
  s.WriteInt(key(1), "Top", 4000);   // and the bottom
  s.WriteInt(key(2), "NumInSet", 14);
  s.WriteInt(key(2), "Left", -50);  // negative stays
  s.WriteInt(key(2), "Top", -20);
  s.WriteInt(key(3), "NumInSet", 34);
  s.WriteInt(key(3), "Left", 900);  // right edge 1095 > 1024: pulled in; top stays
  s.WriteInt(key(3), "Top", 700);
  s.WriteInt(key(4), "NumInSet", 35);  // not a parameter
  s.WriteString(key(5), "NumInSet", QStringLiteral("zwei"));
  s.WriteInt(key(6), "NumInSet", 8);
  s.WriteString(key(6), "Left", QStringLiteral("x"));  // unusable: default 0
  s.WriteInt(key(6), "Top", int64_t{1} << 40);         // unusable: default 180

  QWidget owner;
  FloatingParameters f(&owner);
  bool menu = false;
  f.OnMenuState = [&](bool on) { menu = on; };
  f.Restore(s, QSize(1024, 768), 2);
  EXPECT_TRUE(f.Restored());
  EXPECT_TRUE(menu);
  EXPECT_EQ(f.Count(), 4);
  const struct {
    int slot;
    ParameterNumber n;
    QPoint pos;
  } cases[] = {{1, 5, {1024 - 195, 768 - 27}},
               {2, 14, {-50, -20}},
               {3, 34, {1024 - 195, 700}},
               {6, 8, {0, 180}}};
  for (const auto& c : cases) {
    ASSERT_NE(f.Window(c.slot), nullptr) << c.slot;
    EXPECT_EQ(f.Window(c.slot)->Number(), c.n);
    EXPECT_EQ(f.Window(c.slot)->pos(), c.pos) << c.slot;
  }
  for (int slot : {0, 4, 5, 7, 15}) EXPECT_EQ(f.Window(slot), nullptr) << slot;
  // Colours of scheme 2: labels white on black text, the border black.
  const GraphColorScheme& sc = GraphColorSchemes()[2];
  EXPECT_EQ(f.Window(1)->NameLabel()->palette().color(QPalette::Window).rgb(), sc.Background);
  EXPECT_EQ(f.Window(1)->ValueLabel()->palette().color(QPalette::WindowText).rgb(), sc.Trace);
  EXPECT_EQ(f.Window(1)->palette().color(QPalette::Window).rgb(), sc.Grid);
  // Absent values were written with their defaults; present ones were left alone.
  EXPECT_EQ(s.ReadInt(key(0), "NumInSet"), -1);
  EXPECT_EQ(s.ReadInt(key(0), "Left"), 0);
  EXPECT_EQ(s.ReadInt(key(15), "Top"), 450);
  EXPECT_EQ(s.ReadInt(key(1), "Left"), 5000);
  EXPECT_EQ(s.ReadString(key(5), "NumInSet"), QStringLiteral("zwei"));

  // Once per window: a second call brings nothing back.
  f.Close(2);
  f.Restore(s, QSize(1024, 768), 2);
  EXPECT_EQ(f.Window(2), nullptr);
}

TEST_F(FloatingTest, ClosingTheWindowSavesEverySlotAndTheNextWindowRestoresThem) {
  {
    TFormDiagJ5E2& w = Open();
    Script(w);
    Add(w, 3);
    Add(w, 11);
    Add(w, 12);
    w.Floats().Window(1)->move(300, 310);
    DoubleClick(w.Floats().Window(2));
    w.RestoreFloatingWindows();  // already done on activation, or now: nothing comes back
    ASSERT_EQ(w.Floats().Count(), 2);
    w.close();
  }
  UserSettings& s = *settings_;
  auto read = [&](int slot) {
    const QString k = FloatingParameters::SlotKey(slot);
    return std::array<int64_t, 3>{s.ReadInt(k, "NumInSet").value_or(-99),
                                  s.ReadInt(k, "Left").value_or(-99),
                                  s.ReadInt(k, "Top").value_or(-99)};
  };
  EXPECT_EQ(read(0), (std::array<int64_t, 3>{3, 0, 0}));
  EXPECT_EQ(read(1), (std::array<int64_t, 3>{11, 300, 310}));
  EXPECT_EQ(read(2), (std::array<int64_t, 3>{-1, 0, 60}));
  EXPECT_EQ(read(15), (std::array<int64_t, 3>{-1, 0, 450}));

  TFormDiagJ5E2& w2 = Open();
  w2.RestoreFloatingWindows();
  ASSERT_EQ(w2.Floats().Count(), 2);
  EXPECT_EQ(w2.Floats().Window(1)->Number(), 11);
  EXPECT_EQ(w2.Floats().Window(1)->pos(), QPoint(300, 310));
  EXPECT_TRUE(w2.Action("miRemoveFloat")->isEnabled());
}

TEST_F(FloatingTest, ChooserListsTheCatalogueAndAcceptsADoubleClick) {
  TfrmParamList dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Выберите параметр"));
  ASSERT_EQ(dialog.List()->count(), kParameterCount);
  for (int i = 0; i < kParameterCount; ++i)
    EXPECT_EQ(dialog.List()->item(i)->text(),
              QString::fromStdString(ParameterCatalogue()[static_cast<size_t>(i)].Name));
  EXPECT_EQ(dialog.List()->currentRow(), 0);
  EXPECT_EQ(dialog.Chosen(), 1);
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("Отмена"));
  dialog.List()->setCurrentRow(13);
  emit dialog.List()->itemDoubleClicked(dialog.List()->item(13));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Chosen(), 14);

  // Through the window: a real modal chooser, accepted with Ok.
  TFormDiagJ5E2& w = Open();
  QTimer::singleShot(0, [] {
    auto* d = qobject_cast<TfrmParamList*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    d->List()->setCurrentRow(33);
    d->OkButton()->click();
  });
  w.Action("miAddFloat")->trigger();
  ASSERT_NE(w.Floats().Window(0), nullptr);
  EXPECT_EQ(w.Floats().Window(0)->Number(), 34);
}

TEST_F(DiagWindowTest, MeasurementsBetweenTheMarks) {
  TFormDiagJ5E2& w = Open();
  Connect();
  Ticks(12);
  QAction* measure = w.Action("miMeasure");
  emit w.DataMenu()->aboutToShow();
  EXPECT_FALSE(measure->isEnabled());
  measure->trigger();  // without marks: nothing
  EXPECT_TRUE(messages_.empty());

  ASSERT_TRUE(w.History().SetStartMark(8));
  ASSERT_TRUE(w.History().SetEndMark(3));  // before the start: the same as exchanged
  emit w.DataMenu()->aboutToShow();
  EXPECT_TRUE(measure->isEnabled());
  measure->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith(QStringLiteral("Измерение в интервале ")));
  const ElapsedFormatter time(LongTimePattern());
  const int32_t ms3 = w.History().RecordAt(3)->ElapsedMs();
  const int32_t ms8 = w.History().RecordAt(8)->ElapsedMs();
  EXPECT_GE(ms8 - ms3, 1250);
  const QString head =
      QStringLiteral("Измерение в интервале %1 - %2 :\n\n\n  - время между метками - %3\n")
          .arg(QString::fromStdString(time.Format(ms3)), QString::fromStdString(time.Format(ms8)),
               QString::fromStdString(time.Format(ms8 - ms3)));
  EXPECT_TRUE(messages_[0].startsWith(head)) << messages_[0].toStdString();
  EXPECT_TRUE(messages_[0].contains(QStringLiteral(" кг\n\n")));

  // Both marks on the newest record: said, not measured from the slot after it.
  const int32_t newest = w.History().RecordCount() - 1;
  w.History().SetStartMark(newest);
  w.History().SetEndMark(newest);
  measure->trigger();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_FALSE(messages_[1].startsWith(QStringLiteral("Измерение")));
  EXPECT_TRUE(messages_[1].contains(QStringLiteral("последней записи")));
}

}  // namespace
}  // namespace kvd::testing
