// SPDX-License-Identifier: GPL-3.0-or-later
// The identification dialog (layout, limits, the Windows-1251 validator, the texts it gives
// back) and the window's commands of "Сведения" on the virtual ECU.
#include "ui/ident_dialog.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <functional>

#include "data/cp1251.h"
#include "diag_window_fixture.h"

namespace kvd::testing {
namespace {

// Types the text into the box one character at a time, as the keyboard would.
void Type(QWidget* w, const QString& text) {
  for (char32_t cp : text.toUcs4()) {
    const QString ch = QString::fromUcs4(&cp, 1);
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, ch);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, ch);
    QApplication::sendEvent(w, &release);
  }
}

// The window's shortcut for a key, pressed.
bool PressShortcut(QWidget& w, const QKeySequence& key) {
  for (QShortcut* sc : w.findChildren<QShortcut*>()) {
    if (sc->key() != key) continue;
    QMetaObject::invokeMethod(sc, "activated");
    return true;
  }
  return false;
}

IdentValues SampleValues() {
  IdentValues v;
  v[0] = "0123456";
  v[1] = "";  // empty record
  v[2] = "12.03.2004";
  v[3] = "KVD5E2S1M00000001";
  v[4] = *Utf8ToCp1251Exact("ЭБУ-01");
  v[5] = "0001234567";
  v[6] = "J5V13L05";
  v[7] = "J5E2 1.5L 8V";
  v[8] = std::string(
      "14\x98"
      "20",
      5);  // a byte without a character of its own
  v[9] = "15.02.2004";
  v[10] = "KVDSIM 1.0";
  return v;
}

TEST(IdentDialog, LaysOutLabelsAndLimitedEditBoxes) {
  const IdentValues values = SampleValues();
  IdentDialog d(values);
  const int w = d.LabelWidth();
  int widest = 0;
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    const int top = 24 * static_cast<int>(i + 1) - 4;
    EXPECT_EQ(d.Label(i)->pos(), QPoint(60, top)) << i;
    EXPECT_EQ(d.Label(i)->text().toStdString(), IdentRecordTable()[i].Label);
    widest = std::max(widest, d.Label(i)->width());
    QLineEdit* e = d.Edit(i);
    EXPECT_EQ(e->geometry().topLeft(), QPoint(60 + w + 5, top - 3)) << i;
    EXPECT_EQ(e->width(), 170);
    EXPECT_EQ(e->isReadOnly(), !IdentRecordTable()[i].Writable) << i;
    EXPECT_EQ(e->validator() != nullptr, IdentRecordTable()[i].Writable) << i;
    if (!values[i].empty()) {
      EXPECT_EQ(e->maxLength(), static_cast<int>(values[i].size())) << i;
    }
  }
  EXPECT_EQ(widest, w);
  EXPECT_EQ(d.Edit(1)->maxLength(), 32767);  // empty record: not limited
  EXPECT_EQ(d.Edit(4)->text(), QStringLiteral("ЭБУ-01"));
  EXPECT_EQ(d.width(), 170 + w + 60 + 50);
  EXPECT_EQ(d.SaveButton()->text(), QStringLiteral("Сохранить"));
  EXPECT_EQ(d.OkButton()->text(), QStringLiteral("OK"));
  EXPECT_GT(d.OkButton()->y(), d.Edit(10)->geometry().bottom());
}

TEST(IdentDialog, TypingKeepsToTheCodePageAndTheRecordLength) {
  IdentDialog d(SampleValues());
  QLineEdit* vin = d.Edit(3);
  vin->clear();
  Type(vin, QStringLiteral("ВАЗ日ÿ-€21"));  // 日 and ÿ have no Windows-1251 byte
  EXPECT_EQ(vin->text(), QStringLiteral("ВАЗ-€21"));
  vin->clear();
  Type(vin, QString(20, QLatin1Char('X')));
  EXPECT_EQ(vin->text().size(), 17);

  struct Case {
    QString text;
    QValidator::State state;
  };
  const Case cases[] = {{QStringLiteral("Ёлка №1"), QValidator::Acceptable},
                        {QStringLiteral(""), QValidator::Acceptable},
                        {QStringLiteral("añb"), QValidator::Invalid},
                        {QString::fromUcs4(U"a\U0001F600"), QValidator::Invalid}};
  Cp1251Validator v;
  for (Case c : cases) {
    int pos = 0;
    EXPECT_EQ(v.validate(c.text, pos), c.state) << c.text.toStdString();
  }
}

TEST(IdentDialog, GivesBackEditedTextsAsWindows1251AndUntouchedOnesByteForByte) {
  const IdentValues values = SampleValues();
  IdentDialog d(values);
  d.Edit(0)->setText(QStringLiteral("Кузов"));
  d.Edit(1)->setText(QStringLiteral("AB"));
  const IdentValues t = d.Texts();
  EXPECT_EQ(t[0], *Utf8ToCp1251Exact("Кузов"));
  EXPECT_EQ(t[1], "AB");
  EXPECT_EQ(t[8], values[8]);  // 98 survives an unchanged box
  EXPECT_EQ(t[4], values[4]);
}

// The modal dialog that the command opens, driven once it shows (the command lets window
// messages run before, so the dialog is looked for until it is there).
void WhenDialogShows(std::function<void(IdentDialog&)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* d = qobject_cast<IdentDialog*>(QApplication::activeModalWidget());
    if (!d || !d->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(*d);
  });
  timer->start(5);
}

TEST_F(DiagWindowTest, IdentificationCommandReadsShowsAndSaves) {
  TFormDiagJ5E2& w = Open();
  Connect();
  QAction* item = w.Action("miIdent");
  ASSERT_TRUE(item->isEnabled());
  EXPECT_EQ(item->shortcut(), QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_N));
  QString shownVin;
  WhenDialogShows([&](IdentDialog& d) {
    shownVin = d.Edit(3)->text();
    d.Edit(3)->setText(QStringLiteral("XTA21110012345A"));
    d.SaveButton()->click();
  });
  item->trigger();
  EXPECT_EQ(shownVin, QStringLiteral("KVD5E2S1M00000001"));
  const std::vector<uint8_t>* vin = ecu_.IdentValue(0x1A, 0x90);
  EXPECT_EQ(std::string(vin->begin(), vin->end()), "XTA21110012345A  ");
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(w.Session().PollEnabled);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // OK writes nothing.
  WhenDialogShows([](IdentDialog& d) {
    d.Edit(3)->setText(QStringLiteral("IGNORED"));
    d.OkButton()->click();
  });
  item->trigger();
  EXPECT_EQ(std::string(vin->begin(), vin->end()), "XTA21110012345A  ");
}

TEST_F(DiagWindowTest, FlagsResetAndHiddenImmobilizerItemWork) {
  ecu_.Settings().configFlags = {0x05, 0x80};
  ecu_.Settings().immoStatus = 0x30;
  DiagWindowConfig c = Config();
  std::vector<QString> questions;
  c.confirmSink = [&](const QString& q) {
    questions.push_back(q);
    return true;
  };
  TFormDiagJ5E2& w = Open(std::move(c));
  Connect();

  w.Action("miConfig")->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].count(QStringLiteral("* ")), 3);

  QAction* immo = w.Action("miImmo");
  EXPECT_FALSE(immo->isVisible());
  const QKeySequence immoKey(Qt::SHIFT | Qt::CTRL | Qt::Key_I);
  EXPECT_EQ(immo->shortcut(), immoKey);
  ASSERT_TRUE(PressShortcut(w, immoKey));
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1], QStringLiteral("Статус иммобилайзера:\n\n* ошибка связи с "
                                         "иммобилизатором\r\n* разрешение запуска\r\n"));

  const uint32_t sessions = ecu_.SessionsOpened();
  w.Action("miEcuReset")->trigger();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(messages_.back(), QStringLiteral("Произведен сброс ЭБУ"));
  EXPECT_TRUE(w.Session().Connected);
  EXPECT_EQ(ecu_.SessionsOpened(), sessions + 1);
  EXPECT_EQ(w.LinkText(), QStringLiteral("ON-LINE"));

  // Off-line the items and the hidden item's shortcut do nothing.
  w.Session().Disconnect();
  const size_t before = messages_.size();
  PressShortcut(w, immoKey);
  EXPECT_FALSE(w.Action("miConfig")->isEnabled());
  EXPECT_EQ(messages_.size(), before);
}

}  // namespace
}  // namespace kvd::testing
