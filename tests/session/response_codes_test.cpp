// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/response_codes.h"

#include <gtest/gtest.h>

namespace kvd {
namespace {

TEST(ResponseCodeText, EveryCodeWithItsOwnText) {
  struct Row {
    uint8_t code;
    const char* text;
  };
  const Row rows[] = {
      {0x10, "KWPResponceCode: General Reject\r\n[ЭБУ отклонил запрос]"},
      {0x11, "KWPResponceCode: Service Not Supported\r\n[Сервис не поддерживается]"},
      {0x12,
       "KWPResponceCode: Subfunction Not Supported - Invalid Format\r\n[Функция не "
       "поддерживается - неверный формат]"},
      {0x21, "KWPResponceCode: Busy - Repeat Request\r\n[ЭБУ занят]"},
      {0x22,
       "KWPResponceCode: Condition Not Correct\r\n[Недопустимые условия для выполнения "
       "функции]"},
      {0x23, "KWPResponceCode: Routine Not Complete\r\n[Операция не завершена]"},
      {0x31, "KWPResponceCode: Request Out Of Range\r\n[Запрос вне диапазона]"},
      {0x33, "KWPResponceCode: Security Access denied"},
      {0x34, "KWPResponceCode: Security Access Allowed"},
      {0x35, "KWPResponceCode: Invalid Key"},
      {0x36, "KWPResponceCode: Exceed Number Of Attempts"},
      {0x37, "KWPResponceCode: Required Time Delay Not Expired"},
      {0x72, "KWPResponceCode: Transfer Aborted\r\n[Передача прервана]"},
      {0x77,
       "KWPResponceCode: Block Transfer Data Checksum Error\r\n[Ошибка контрольной суммы при "
       "передаче]"},
  };
  for (const Row& r : rows) EXPECT_EQ(ResponseCodeText(r.code), r.text) << int(r.code);
}

TEST(ResponseCodeText, CodesWithoutTextGetTheUnknownText) {
  const std::string unknown = "KWPResponceCode: Unknown responce code\r\n[Неизвестный код ответа]";
  int own = 0;
  for (int code = 0; code < 256; ++code) {
    const std::string text = ResponseCodeText(static_cast<uint8_t>(code));
    ASSERT_EQ(text.rfind("KWPResponceCode: ", 0), 0u) << code;
    if (text != unknown) ++own;
  }
  EXPECT_EQ(own, 14);
  EXPECT_EQ(ResponseCodeText(0x78), unknown);  // response pending has no text of its own
  EXPECT_EQ(ResponseCodeText(0x00), unknown);
  EXPECT_EQ(ResponseCodeText(0xFF), unknown);
}

TEST(ResponseCodeText, SecurityCodesAreEnglishOnly) {
  for (uint8_t code = 0x33; code <= 0x37; ++code) {
    EXPECT_EQ(ResponseCodeText(code).find("\r\n"), std::string::npos) << int(code);
    EXPECT_EQ(ResponseCodeText(code).find('['), std::string::npos) << int(code);
  }
}

TEST(MessagePatterns, ServiceNameAfterTheText) {
  EXPECT_EQ(LinkLostMessage(kSvcReadDataByLocalIdentifier),
            "Связь прервана: ReadDataByLocalIdentifier");
  EXPECT_EQ(LinkLostMessage(kSvcTesterPresent), "Связь прервана: TesterPresent");
  EXPECT_EQ(LinkLostMessage(kSvcReadDtcByStatus), "Связь прервана: ReadDTCByStatus");
  EXPECT_EQ(KwpErrorMessage(kSvcClearDiagnosticInformation),
            "Ошибка KWP - ClearDiagnosticInformation");
  EXPECT_EQ(KwpErrorMessage(kSvcEcuReset), "Ошибка KWP - ECUReset");
  EXPECT_EQ(LinkLostMessage(kSvcInputOutputControl),
            "Связь прервана: InputOutputControlByLocalIdentifier");
  EXPECT_EQ(LinkLostMessage(kSvcWriteDataByLocalIdentifier),
            "Связь прервана: WriteDataByLocalIdentifier");
  // A name with a percent sign is inserted as it stands, never read as a format.
  EXPECT_EQ(KwpErrorMessage("%s%n"), "Ошибка KWP - %s%n");
}

}  // namespace
}  // namespace kvd
