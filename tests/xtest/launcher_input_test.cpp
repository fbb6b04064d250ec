// SPDX-License-Identifier: GPL-3.0-or-later
// The launcher's dialogs driven by real keys and clicks through an X server: the port prompt
// takes Enter and Esc, the about window closes on Esc and on a click, the start-up picture
// ignores Esc.
#include <gtest/gtest.h>

#include <optional>

#include "app/launcher.h"
#include "app/port_choice.h"
#include "app/splash.h"
#include "real_input.h"

namespace kvd::xtest {
namespace {

class RealInputLauncher : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SkipReason().empty()) GTEST_SKIP() << SkipReason();
  }
};

TEST_F(RealInputLauncher, PortPromptTakesEnterAndEscape) {
  struct Case {
    const char* what;
    std::vector<const char*> keys;  // typed after select-all
    const char* last;
    std::optional<QString> answer;
  };
  const Case cases[] = {
      {"Enter takes the default", {}, "Return", QStringLiteral("1")},
      {"Enter takes what was typed", {"3"}, "KP_Enter", QStringLiteral("3")},
      {"Esc cancels", {"3"}, "Escape", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<QString> answer = QStringLiteral("(not returned)");
    WithModal(
        [&] {
          answer = QtLauncherDialogs::AskPort(nullptr, QStringLiteral("Введите номер COM-порта"),
                                              PortPromptEntries(), QStringLiteral("1"));
        },
        [&](QWidget* w) {
          if (!c.keys.empty()) {
            EXPECT_TRUE(Type("a", kCtrl));
          }
          for (const char* k : c.keys) EXPECT_TRUE(Type(k));
          EXPECT_TRUE(TypeInto(w, c.last));
        });
    EXPECT_EQ(answer, c.answer);
  }
}

TEST_F(RealInputLauncher, AboutWindowClosesOnEscAndClickStartUpPictureIgnoresEsc) {
  for (const bool byKey : {true, false}) {
    SCOPED_TRACE(byKey ? "Esc" : "click");
    TFormSplash about;
    WithModal([&] { about.ShowSplash(TFormSplash::About); },
              [&](QWidget* w) {
                EXPECT_EQ(w, &about);
                EXPECT_TRUE(byKey ? TypeInto(w, "Escape") : Click(w, QPoint(w->width() / 2, 200)));
              });
    EXPECT_FALSE(about.isVisible());
  }

  TFormSplash startUp;
  startUp.ShowSplash(TFormSplash::StartUp);
  ASSERT_TRUE(Activate(&startUp));
  ASSERT_TRUE(Type("Escape"));
  EXPECT_TRUE(startUp.isVisible());
}

}  // namespace
}  // namespace kvd::xtest
