// Texts of the ECU's negative response codes and the two messages of failed exchanges.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kvd {

// The KWP service names shown in the messages.
inline constexpr char kSvcTesterPresent[] = "TesterPresent";
inline constexpr char kSvcClearDiagnosticInformation[] = "ClearDiagnosticInformation";
inline constexpr char kSvcReadDataByLocalIdentifier[] = "ReadDataByLocalIdentifier";
inline constexpr char kSvcReadDtcByStatus[] = "ReadDTCByStatus";
inline constexpr char kSvcInputOutputControl[] = "InputOutputControlByLocalIdentifier";
inline constexpr char kSvcEcuReset[] = "ECUReset";
inline constexpr char kSvcWriteDataByLocalIdentifier[] = "WriteDataByLocalIdentifier";

// The text for a response code (byte 2 of a 7F answer); codes without a text of their own
// get the text of an unknown code. UTF-8, lines separated by CR LF.
std::string ResponseCodeText(uint8_t code);

// "Связь прервана: <service>" — the exchange failed after its retries.
std::string LinkLostMessage(const std::string& service);
// "Ошибка KWP - <service>" — the exchange failed, the session stays as it was.
std::string KwpErrorMessage(const std::string& service);

}  // namespace kvd
