// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window on the virtual ECU and the virtual clock, with its settings in a
// temporary file, no poll timer ticks (the tests tick by hand) and its messages collected.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "data/history.h"
#include "data/parameters.h"
#include "link/clock.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "settings/settings_store.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"
#include "ui/diag_window.h"

namespace kvd::testing {

class DiagWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_locale_ = QLocale();
    QLocale::setDefault(QLocale::c());
    settings_ = UserSettings::OpenFile(dir_.filePath("user.conf"));
  }
  void TearDown() override {
    window_.reset();
    QLocale::setDefault(saved_locale_);
  }

  DiagWindowConfig Config() {
    DiagWindowConfig c;
    c.link = &link_;
    c.settings = settings_.get();
    c.poll.IntervalMs = 0;  // the tests tick by hand
    c.comPort = 1;
    c.messageSink = [this](const QString& text) { messages_.push_back(text); };
    return c;
  }

  TFormDiagJ5E2& Open(DiagWindowConfig c) {
    window_ = std::make_unique<TFormDiagJ5E2>(std::move(c));
    window_->show();
    QApplication::processEvents();
    return *window_;
  }
  TFormDiagJ5E2& Open() { return Open(Config()); }

  // Ticks until the session is on-line (the first tick connects).
  void Connect() {
    window_->ComTimerTimer();
    ASSERT_TRUE(window_->Session().Connected)
        << (messages_.empty() ? "" : messages_.back().toStdString());
  }

  // n live-data ticks, 250 ms of virtual time apart.
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      clock_.AdvanceMs(250);
      window_->ComTimerTimer();
    }
  }

  // Resizes the window so that its client area gets exactly this height.
  void SetClientHeight(int h) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      const int delta = h - window_->ClientArea()->height();
      if (delta == 0) break;
      window_->resize(window_->width(), window_->height() + delta);
      QApplication::processEvents();
    }
    ASSERT_EQ(window_->ClientArea()->height(), h);
  }

  void SetExpanded(std::initializer_list<bool> expanded) {
    int i = 0;
    for (bool e : expanded) window_->Pane(i++)->SetGraphShown(e);
    window_->LayOutPanes();
  }

  QTemporaryDir dir_;
  VirtualClock clock_{1'000'000};
  VirtualEcu ecu_;
  VirtualLine line_{ecu_, clock_};
  KwpLink link_{line_, clock_};
  std::unique_ptr<UserSettings> settings_;
  std::vector<QString> messages_;
  std::unique_ptr<TFormDiagJ5E2> window_;
  QLocale saved_locale_;
};

}  // namespace kvd::testing
