// SPDX-License-Identifier: GPL-3.0-or-later
// Widget tests run on the offscreen platform with one QApplication for the whole program.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#ifndef _WIN32
namespace kvd::testing {
// A window session that records until it is killed (diag_recovery_test.cpp).
int RunRecoveryChild(const char* folder);
}  // namespace kvd::testing
#endif

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef KVD_TEST_FONT_DIR
  // The offscreen platform's fonts on Windows (set here: Wine does not hand Qt's variables on).
  if (!qEnvironmentVariableIsSet("QT_QPA_FONTDIR")) qputenv("QT_QPA_FONTDIR", KVD_TEST_FONT_DIR);
#endif
  QApplication app(argc, argv);
#ifndef _WIN32
  if (const char* folder = std::getenv("KVD_RECOVERY_CHILD"))
    return kvd::testing::RunRecoveryChild(folder);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
