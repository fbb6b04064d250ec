// SPDX-License-Identifier: GPL-3.0-or-later
// What the settings dialog and the set editor look like: every text fits its control, no control
// leaves its dialog or covers another, and the sample pane is drawn in the chosen scheme.
// With KVD_LOOK_DIR set the grabs are saved there as frm_cfg.png and frm_set_editor.png.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QTabBar>
#include <QTemporaryDir>
#include <cstdlib>

#include "settings/settings_store.h"
#include "ui/frm_cfg.h"
#include "ui/frm_set_editor.h"

namespace kvd {
namespace {

void SaveLook(const QImage& shot, const char* name) {
  if (const char* dir = std::getenv("KVD_LOOK_DIR"))
    shot.save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name));
}

// Labels and buttons that are direct parts of `parent` (not of a pane inside it): each lies
// within `parent`, shows its whole text, and none overlaps another.
void ExpectTidy(QWidget* parent, const char* what) {
  std::vector<QWidget*> controls;
  for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!w->isVisible()) continue;
    if (auto* l = qobject_cast<QLabel*>(w)) {
      EXPECT_GE(l->width(), l->sizeHint().width()) << what << ": " << l->text().toStdString();
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_GE(b->width(), b->sizeHint().width()) << what << ": " << b->text().toStdString();
    } else if (!qobject_cast<QComboBox*>(w)) {
      continue;
    }
    EXPECT_TRUE(parent->rect().contains(w->geometry()))
        << what << ": " << w->objectName().toStdString();
    controls.push_back(w);
  }
  for (size_t i = 0; i < controls.size(); ++i)
    for (size_t j = i + 1; j < controls.size(); ++j)
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << what << ": " << controls[i]->objectName().toStdString() << " / "
          << controls[j]->objectName().toStdString();
}

TEST(DialogsLookTest, SettingsDialogAndSetEditorDrawTidily) {
  QTemporaryDir dir;
  auto settings = UserSettings::OpenFile(dir.filePath("user.conf"));
  TFormCfg cfg(*settings, nullptr, 5);
  cfg.cboxColor()->setCurrentIndex(4);  // "Синяя"
  cfg.show();
  QApplication::processEvents();
  const QImage cfgShot = cfg.grab().toImage();
  SaveLook(cfgShot, "frm_cfg.png");
  ExpectTidy(&cfg, "settings dialog");
  ExpectTidy(cfg.gbColor(), "colour group");
  // The sample's chart is painted in the background of scheme 4, 363895.
  TfrmGraph* sample = cfg.SamplePane();
  const QPoint inChart = sample->mapTo(&cfg, QPoint(60, 8));
  EXPECT_EQ(QColor(cfgShot.pixel(inChart)).rgb() & 0xFFFFFF, 0x363895u);

  SetTable sets = DefaultSetTable();
  TfrmSetEditor editor(sets);
  editor.show();
  QApplication::processEvents();
  SaveLook(editor.grab().toImage(), "frm_set_editor.png");
  ExpectTidy(&editor, "set editor");
  // All ten tabs are shown whole.
  for (int i = 0; i < editor.TabControl()->count(); ++i)
    EXPECT_LE(editor.TabControl()->tabRect(i).right(), editor.TabControl()->width() - 1) << i;
  ExpectTidy(editor.findChild<QWidget*>(QStringLiteral("TabControl")), "set page");
}

}  // namespace
}  // namespace kvd
