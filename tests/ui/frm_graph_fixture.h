// SPDX-License-Identifier: GPL-3.0-or-later
// A history with records built byte by byte, and panes bound to it, for the pane tests.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QLocale>
#include <array>
#include <cstdint>
#include <memory>

#include "data/history.h"
#include "data/parameters.h"
#include "link/clock.h"
#include "ui/chart.h"
#include "ui/frm_graph.h"

namespace kvd::testing {

class PaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_locale_ = QLocale();
    QLocale::setDefault(QLocale::c());
  }
  void TearDown() override { QLocale::setDefault(saved_locale_); }

  // Appends one record whose payload byte `offset` (record offset + 6) holds `value`;
  // the records are 250 ms apart.
  void AppendByte(int32_t payload_offset, uint8_t value) {
    std::array<uint8_t, kDataBlockSize> block{};
    block[0] = 0x61;
    block[1] = 0x01;
    block[static_cast<std::size_t>(payload_offset)] = value;
    if (history_.RecordCount() > 0) clock_.AdvanceMs(250);
    ASSERT_TRUE(history_.Append(block.data()));
  }

  // A pane of 700 x 140 bound to catalogue parameter `number`, window of `points` points,
  // showing the newest record.
  std::unique_ptr<TfrmGraph> MakePane(ParameterNumber number, int32_t points = 40) {
    auto pane = std::make_unique<TfrmGraph>(nullptr, &history_, &shared_, points);
    Bind(*pane, number);
    pane->resize(700, 140);
    pane->SetNewestShownIndex(std::max(0, history_.RecordCount() - 1));
    pane->Refill();
    return pane;
  }

  static void Bind(TfrmGraph& pane, ParameterNumber number) {
    const ParameterDescriptor d = *LookupParameter(number);
    pane.SetTitle(QString::fromStdString(d.Name));
    pane.SetGraphShown(true);
    pane.SetDecoding(d);
    pane.SetValueType(d.ValueType);
    pane.SetYRange(d.DefaultMin, d.DefaultMax);
    pane.SetTimeLabelsShown(true);
  }

  static QImage Grab(QWidget& w) { return w.grab().toImage(); }

  VirtualClock clock_{1'000'000};
  HistoryStore history_{clock_};
  GraphShared shared_;
  QLocale saved_locale_;
};

}  // namespace kvd::testing
