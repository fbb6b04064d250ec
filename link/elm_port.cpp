// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/elm_port.h"

#include <cctype>
#include <charconv>

#include "link/system_port.h"
#include "link/tcp_port.h"

namespace kvd {

namespace {

constexpr uint32_t kLowestBaud = 300;
constexpr uint32_t kHighestBaud = 4000000;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// A whole decimal number within [low, high].
bool Number(std::string_view text, uint32_t low, uint32_t high, uint32_t& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= low && out <= high;
}

}  // namespace

bool IsElmPortText(std::string_view text) {
  return StartsWithNoCase(text, "elm:");
}

std::optional<ElmTarget> ParseElmPortText(std::string_view text) {
  if (!IsElmPortText(text)) return std::nullopt;
  text.remove_prefix(4);
  ElmTarget target;
  if (StartsWithNoCase(text, "tcp:")) {
    std::string host;
    uint16_t port = 0;
    const std::string address(text);
    if (!ParseTcpAddress(address, host, port)) return std::nullopt;
    target.kind = ElmTarget::Kind::Tcp;
    target.device = "tcp:" + address.substr(4);
    return target;
  }
  // A baud rate after the last '@'.
  if (const size_t at = text.rfind('@'); at != std::string_view::npos) {
    if (!Number(text.substr(at + 1), kLowestBaud, kHighestBaud, target.baudRate))
      return std::nullopt;
    text = text.substr(0, at);
  }
  if (text.empty()) return std::nullopt;
  uint32_t n = 0;
  std::string_view digits = text;
  if (StartsWithNoCase(digits, "com")) digits.remove_prefix(3);
  if (Number(digits, 1, 65535, n)) {
    target.kind = ElmTarget::Kind::ComNumber;
    target.number = static_cast<uint16_t>(n);
    return target;
  }
  target.kind = ElmTarget::Kind::Device;
  target.device = std::string(text);
  return target;
}

std::string ElmCaption(const ElmTarget& target) {
  std::string name = "ELM327 ";
  switch (target.kind) {
    case ElmTarget::Kind::ComNumber:
      name += "COM" + std::to_string(target.number);
      break;
    case ElmTarget::Kind::Device:
      name += target.device;
      break;
    case ElmTarget::Kind::Tcp:
      return name + target.device.substr(4);
  }
  if (target.baudRate != 38400) name += " @" + std::to_string(target.baudRate);
  return name;
}

std::unique_ptr<SerialPort> MakeElmPort(const ElmTarget& target) {
  if (target.kind == ElmTarget::Kind::Tcp) return std::make_unique<TcpPort>();
  return MakeSystemSerialPort();
}

}  // namespace kvd
