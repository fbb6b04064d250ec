// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of the ECU's negative response codes.
#include "session/response_codes.h"

namespace kvd {

std::string ResponseCodeText(uint8_t code) {
  switch (code) {
    case 0x10:
      return "KWPResponceCode: General Reject\r\n[ЭБУ отклонил запрос]";
    case 0x11:
      return "KWPResponceCode: Service Not Supported\r\n[Сервис не поддерживается]";
    case 0x12:
      return "KWPResponceCode: Subfunction Not Supported - Invalid Format\r\n"
             "[Функция не поддерживается - неверный формат]";
    case 0x21:
      return "KWPResponceCode: Busy - Repeat Request\r\n[ЭБУ занят]";
    case 0x22:
      return "KWPResponceCode: Condition Not Correct\r\n"
             "[Недопустимые условия для выполнения функции]";
    case 0x23:
      return "KWPResponceCode: Routine Not Complete\r\n[Операция не завершена]";
    case 0x31:
      return "KWPResponceCode: Request Out Of Range\r\n[Запрос вне диапазона]";
    case 0x33:
      return "KWPResponceCode: Security Access denied";
    case 0x34:
      return "KWPResponceCode: Security Access Allowed";
    case 0x35:
      return "KWPResponceCode: Invalid Key";
    case 0x36:
      return "KWPResponceCode: Exceed Number Of Attempts";
    case 0x37:
      return "KWPResponceCode: Required Time Delay Not Expired";
    case 0x72:
      return "KWPResponceCode: Transfer Aborted\r\n[Передача прервана]";
    case 0x77:
      return "KWPResponceCode: Block Transfer Data Checksum Error\r\n"
             "[Ошибка контрольной суммы при передаче]";
    default:
      return "KWPResponceCode: Unknown responce code\r\n[Неизвестный код ответа]";
  }
}

std::string LinkLostMessage(const std::string& service) {
  return "Связь прервана: " + service;
}

std::string KwpErrorMessage(const std::string& service) {
  return "Ошибка KWP - " + service;
}

}  // namespace kvd
