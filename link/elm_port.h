// The port text that chooses an ELM327 adapter: "elm:" and a serial port (a COM number or a
// device path, with an optional "@baud") or "tcp:HOST:PORT" for a Wi-Fi adapter.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/serial_port.h"

namespace kvd {

struct ElmTarget {
  enum class Kind { ComNumber, Device, Tcp };
  Kind kind = Kind::ComNumber;
  uint16_t number = 1;  // ComNumber: the COM port
  std::string device;   // Device: the path; Tcp: "tcp:HOST:PORT"
  uint32_t baudRate = 38400;

  bool operator==(const ElmTarget&) const = default;
};

// True for any text that starts with "elm:" (any case): it names an ELM327, well or badly.
bool IsElmPortText(std::string_view text);

// "elm:/dev/rfcomm0", "elm:COM5", "elm:5", "elm:/dev/ttyUSB0@115200", "elm:\\.\COM12@9600",
// "elm:tcp:192.168.0.10:35000". Nothing when the text is not of these forms (an empty port, a
// baud rate that is not a number from 300 to 4000000, a TCP address without a valid port).
std::optional<ElmTarget> ParseElmPortText(std::string_view text);

// How the program names the adapter: "ELM327 COM5", "ELM327 /dev/rfcomm0",
// "ELM327 192.168.0.10:35000" (the baud rate when it is not the default: "... @115200").
std::string ElmCaption(const ElmTarget& target);

// A closed port of the kind the target needs: a TCP port or the platform's serial port.
std::unique_ptr<SerialPort> MakeElmPort(const ElmTarget& target);

}  // namespace kvd
