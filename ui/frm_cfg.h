// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog "Настройка": colour scheme, line width and the starting number of points of
// the graph panes, with a sample pane that shows the choice at once.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/clock.h"
#include "settings/settings_store.h"
#include "ui/frm_graph.h"

class QComboBox;
class QGroupBox;
class QPushButton;
class QSpinBox;

namespace kvd {

class HistoryStore;

class TFormCfg : public QDialog {
  Q_OBJECT
 public:
  // `settings` must outlive the dialog. `seed` fixes the sample series (tests); 0 = random.
  explicit TFormCfg(UserSettings& settings, QWidget* parent = nullptr, uint32_t seed = 0);
  ~TFormCfg() override;

  // "Ok" (also Esc): stores the choice and closes with Accepted. A store that cannot be written
  // is reported through the message shown by ErrorShown (a message box unless replaced).
  void bOKClick();
  void cboxColorChange();
  void eNumXPointChange();
  void eLineWidthChange();

  // The values the dialog shows.
  GraphLook Chosen() const;

  // Where a store error goes; the default shows a message box.
  std::function<void(const QString&)> ErrorShown;

  QGroupBox* gbColor() const { return gbColor_; }
  QComboBox* cboxColor() const { return cboxColor_; }
  QSpinBox* eNumXPoint() const { return eNumXPoint_; }
  QSpinBox* eLineWidth() const { return eLineWidth_; }
  QPushButton* bOK() const { return bOK_; }
  TfrmGraph* SamplePane() const { return sample_; }
  // The record count of the private sample series (0 when it could not be made).
  int32_t SampleRecordCount() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FillSample(uint32_t seed);
  void ShowSamplePoints(int32_t count);

  UserSettings& settings_;
  // The sample's own recording and shared pane state: nothing of a diagnostic window is touched.
  RealClock clock_;
  std::unique_ptr<HistoryStore> sampleHistory_;
  GraphShared sampleShared_;

  QGroupBox* gbColor_ = nullptr;
  QComboBox* cboxColor_ = nullptr;
  QSpinBox* eNumXPoint_ = nullptr;
  QSpinBox* eLineWidth_ = nullptr;
  QPushButton* bOK_ = nullptr;
  TfrmGraph* sample_ = nullptr;
};

}  // namespace kvd
