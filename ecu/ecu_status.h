// Configuration flags, ECU reset and immobilizer status: one request each, answered by a message.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ecu/ecu_ui.h"

namespace kvd {

class DiagSession;

inline constexpr char kResetQuestion[] = "Вы уверены, что хотите произвести сброс ЭБУ?";
inline constexpr char kResetDoneText[] = "Произведен сброс ЭБУ";
inline constexpr char kImmoHeading[] = "Статус иммобилайзера:\n\n";

// Result of a reset the user did not confirm (nothing was sent).
constexpr int32_t kResetNotConfirmed = 30;

// The set configuration flags of a 21 01 answer (bytes 2 and 3, bit 0 first), each line
// "* " and the flag's text. Bytes the answer lacks count as no flags.
std::vector<std::string> ConfigFlagLines(std::span<const uint8_t> answer);
// The message of "Комплектация": every line followed by CR LF (empty when no flag is set).
std::string ConfigFlagsText(std::span<const uint8_t> answer);

// The set immobilizer status bits of a 21 A0 answer (byte 3; bits 0..3 have no text).
std::vector<std::string> ImmoStatusLines(std::span<const uint8_t> answer);
// The message of "Статус иммобилайзера": the heading, then every line followed by CR LF.
std::string ImmoStatusText(std::span<const uint8_t> answer);

// 21 01 with the poll cycle held; the answer's bytes go to `answer`. Returns the link's result.
int32_t ReadConfigFlags(DiagSession& session, EcuUi& ui, std::vector<uint8_t>& answer);
// 21 A0 with the poll cycle held.
int32_t ReadImmoStatus(DiagSession& session, EcuUi& ui, std::vector<uint8_t>& answer);
// The labels of the ADC bar, in the order of AdcChannelTexts.
inline constexpr std::array<const char*, 6> kAdcChannelLabels = {"ДМРВ", "ДПДЗ", "ДД",
                                                                 "ДК",   "ДТОЖ", "АКБ"};
// 21 03, the ADC channels (AdcChannelTexts turns the answer into the bar's texts).
int32_t ReadAdcChannels(DiagSession& session, EcuUi& ui, std::vector<uint8_t>& answer);

// "Комплектация": reads and shows the flags, or "Ошибка KWP - ReadDataByLocalIdentifier".
int32_t ShowConfigFlags(DiagSession& session, EcuUi& ui);
// "Статус иммобилайзера": reads and shows the status, or
// "Связь прервана: ReadDataByLocalIdentifier" (the session stays open).
int32_t ShowImmoStatus(DiagSession& session, EcuUi& ui);

// "Сброс ЭБУ": asks; on Yes sends 11 01. Refused: "Ошибка KWP - ECUReset", session kept.
// Accepted: the session ends, the port closes, "Произведен сброс ЭБУ" is shown and, when
// reconnect is true, the session is opened anew (a failure leaves it off-line).
int32_t ResetEcu(DiagSession& session, EcuUi& ui, bool reconnect = true);

}  // namespace kvd
