// SPDX-License-Identifier: GPL-3.0-or-later
// The real-input tests: their own Xvfb, the xcb platform and one QApplication. Without an X
// server every test is skipped with the reason.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "real_input.h"

namespace kvd::xtest {
std::string& SkipReason() {
  static std::string reason;
  return reason;
}
}  // namespace kvd::xtest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string why;
  const bool ready = kvd::xtest::StartServer(why) && kvd::xtest::OpenInput(why);
  std::unique_ptr<QApplication> app;
  if (ready) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    app = std::make_unique<QApplication>(argc, argv);
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
      why = "the xcb platform of Qt is not available";
  }
  if (!why.empty()) {
    kvd::xtest::SkipReason() = "no X server for real input: " + why;
    std::fprintf(stderr, "%s\n", kvd::xtest::SkipReason().c_str());
  }
  const int rc = RUN_ALL_TESTS();
  app.reset();
  kvd::xtest::CloseInput();
  kvd::xtest::StopServer();
  return rc;
}
