// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QRegularExpression>
#include <cstdint>
#include <vector>

#include "app/program_icon.h"

namespace kvd {
namespace {

TEST(CommandLineTest, HelpAndVersionAreAnsweredBeforeTheWindowSystem) {
  struct Case {
    QStringList args;
    bool answered;
    const char* mustContain;
  };
  const Case cases[] = {
      {{"kvd-diag", "--help"}, true, "--port <N|PATH|elm:...>"},
      {{"kvd-diag", "--help"}, true, "--trace <FILE>"},
      {{"kvd-diag", "-h"}, true, "--demo"},
      {{"kvd-diag", "--help-all"}, true, "--version"},
      // Options of the window system or unknown ones mixed in do not hide the request.
      {{"kvd-diag", "-platform", "offscreen", "--help"}, true, "Usage: kvd-diag [options]"},
      {{"kvd-diag", "--no-such-option", "--version"}, true, "kvd-diag "},
      {{"kvd-diag", "-v"}, true, "kvd-diag "},
      // Anything else starts the program, errors included: the application reports those.
      {{"kvd-diag"}, false, ""},
      {{"kvd-diag", "--demo"}, false, ""},
      {{"kvd-diag", "--demo", "elm327"}, false, ""},
      {{"kvd-diag", "--port", "/dev/ttyUSB0"}, false, ""},
      {{"kvd-diag", "--port"}, false, ""},
      {{"kvd-diag", "--port", "--help"}, false, ""},  // "--help" is the port's value here
      {{}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    const auto answer = AnswerInfoRequest(c.args);
    ASSERT_EQ(answer.has_value(), c.answered);
    if (!answer) continue;
    EXPECT_EQ(answer->ExitCode, 0);
    EXPECT_TRUE(answer->Text.contains(QString::fromUtf8(c.mustContain)))
        << answer->Text.toStdString();
    EXPECT_FALSE(answer->Text.contains(QStringLiteral("<executable_name>")));
    EXPECT_TRUE(answer->Text.endsWith(QLatin1Char('\n')));
  }
  // The version line is what packaging and the manual pages rely on: name, blank, dotted number.
  const QString version = AnswerInfoRequest({"kvd-diag", "--version"})->Text;
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^kvd-diag \\d+\\.\\d+\\.\\d+\\n$"))
                  .match(version)
                  .hasMatch())
      << version.toStdString();
}

TEST(CommandLineTest, TheOptionsOfTheProgramKeepTheirMeaning) {
  struct Case {
    QStringList args;
    bool parses;
    bool demo;
    const char* port;  // nullptr: not set
  };
  const Case cases[] = {
      {{"kvd-diag"}, true, false, nullptr},
      {{"kvd-diag", "--demo"}, true, true, nullptr},
      {{"kvd-diag", "--port", "3"}, true, false, "3"},
      {{"kvd-diag", "--port=/dev/ttyUSB0"}, true, false, "/dev/ttyUSB0"},
      {{"kvd-diag", "--port"}, false, false, nullptr},
      {{"kvd-diag", "--unknown"}, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    ProgramCommandLine line;
    EXPECT_EQ(line.Parser().parse(c.args), c.parses);
    if (!c.parses) continue;
    EXPECT_EQ(line.Demo(), c.demo);
    EXPECT_EQ(line.HasPort(), c.port != nullptr);
    if (c.port) {
      EXPECT_EQ(line.Port(), QString::fromUtf8(c.port));
    }
  }
}

TEST(ProgramIconTest, DrawsTheTraceOnTheDarkPaneAtEverySize) {
  for (int size : {16, 32, 48, 256}) {
    SCOPED_TRACE(size);
    const QImage icon = DrawProgramIcon(size);
    ASSERT_EQ(icon.size(), QSize(size, size));
    // The corners stay transparent (the pane has round corners).
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(size - 1, size - 1)), 0);
    // The middle of the pane is opaque; some pixels carry the yellow trace and the green bits.
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, size * 40 / 64)), 255);
    int yellow = 0, green = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const QColor c = QColor::fromRgba(icon.pixel(x, y));
        if (c.red() > 200 && c.green() > 150 && c.blue() < 120) ++yellow;
        if (c.green() > 180 && c.red() < 120 && c.blue() < 170) ++green;
      }
    }
    EXPECT_GT(yellow, size * size / 200);
    EXPECT_GT(green, size * size / 200);
  }
  // Sizes outside what a desktop uses are clamped, not a crash or a huge allocation.
  EXPECT_EQ(DrawProgramIcon(0).size(), QSize(8, 8));
  EXPECT_EQ(DrawProgramIcon(-5).size(), QSize(8, 8));
  EXPECT_EQ(DrawProgramIcon(1 << 30).size(), QSize(1024, 1024));
  EXPECT_FALSE(ProgramIcon().isNull());
}

// --demo elm327 puts the virtual ELM327 in front of the virtual ECU; the word alone does not.
TEST(CommandLineTest, DemoBehindAVirtualElm327) {
  struct Case {
    QStringList args;
    bool demo;
    bool elm;
  };
  const Case cases[] = {
      {{"kvd-diag", "--demo"}, true, false},
      {{"kvd-diag", "--demo", "elm327"}, true, true},
      {{"kvd-diag", "elm327"}, false, false},
  };
  for (const Case& c : cases) {
    ProgramCommandLine line;
    ASSERT_TRUE(line.Parser().parse(c.args));
    EXPECT_EQ(line.Demo(), c.demo);
    EXPECT_EQ(line.DemoElm(), c.elm);
  }
}

uint32_t LittleEndian(const QByteArray& data, qsizetype at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(data[at + i]);
  return v;
}

// The .ico read back as Windows reads it: the directory names each picture's size and where its
// PNG lies, and each PNG gives back that picture.
TEST(ProgramIconTest, WindowsIconFileHoldsEachSizeAsPng) {
  struct Case {
    std::vector<QSize> sizes;
    bool valid;
  };
  const Case cases[] = {
      {{{16, 16}, {32, 32}, {48, 48}, {256, 256}}, true},
      {{{24, 24}}, true},
      {{}, false},
      {{{16, 16}, {300, 300}}, false},
      {{{32, 16}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sizes.size());
    QList<QImage> images;
    for (const QSize& s : c.sizes) images.append(DrawProgramIcon(s.width()).scaled(s));
    const QByteArray ico = WindowsIconFile(images);
    if (!c.valid) {
      EXPECT_TRUE(ico.isEmpty());
      continue;
    }
    ASSERT_GE(ico.size(), 6);
    EXPECT_EQ(LittleEndian(ico, 0, 2), 0u);
    EXPECT_EQ(LittleEndian(ico, 2, 2), 1u);
    ASSERT_EQ(LittleEndian(ico, 4, 2), c.sizes.size());
    uint32_t expectedOffset = 6 + 16 * static_cast<uint32_t>(c.sizes.size());
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      const qsizetype entry = 6 + 16 * static_cast<qsizetype>(i);
      const int side = c.sizes[i].width();
      EXPECT_EQ(LittleEndian(ico, entry, 1), static_cast<uint32_t>(side == 256 ? 0 : side));
      EXPECT_EQ(LittleEndian(ico, entry + 1, 1), static_cast<uint32_t>(side == 256 ? 0 : side));
      EXPECT_EQ(LittleEndian(ico, entry + 6, 2), 32u);
      const uint32_t length = LittleEndian(ico, entry + 8, 4);
      const uint32_t offset = LittleEndian(ico, entry + 12, 4);
      EXPECT_EQ(offset, expectedOffset);
      ASSERT_LE(qsizetype{offset} + length, ico.size());
      const QImage back = QImage::fromData(ico.mid(offset, length), "PNG");
      EXPECT_EQ(back.size(), c.sizes[i]);
      EXPECT_EQ(back.pixel(side / 2, side * 40 / 64), images[static_cast<qsizetype>(i)]
                                                          .convertToFormat(QImage::Format_ARGB32)
                                                          .pixel(side / 2, side * 40 / 64));
      expectedOffset += length;
    }
    EXPECT_EQ(expectedOffset, static_cast<uint32_t>(ico.size()));
  }
}

}  // namespace
}  // namespace kvd
