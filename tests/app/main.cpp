// SPDX-License-Identifier: GPL-3.0-or-later
// Widget tests run on the offscreen platform with one QApplication for the whole program.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef KVD_TEST_FONT_DIR
  // The offscreen platform's fonts on Windows (set here: Wine does not hand Qt's variables on).
  if (!qEnvironmentVariableIsSet("QT_QPA_FONTDIR")) qputenv("QT_QPA_FONTDIR", KVD_TEST_FONT_DIR);
#endif
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
