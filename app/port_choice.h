// SPDX-License-Identifier: GPL-3.0-or-later
// The port the program talks through, as the user chose it at start.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "link/elm_port.h"

namespace kvd {

struct PortChoice {
  // Elm: an ELM327 adapter on a serial or TCP port; VirtualElm: the virtual ECU behind a
  // virtual ELM327.
  enum class Kind { Number, Device, Virtual, Elm, VirtualElm };
  Kind kind = Kind::Number;
  uint16_t number = 1;  // COM port number (Kind::Number); also ComPort for the messages
  QString device;       // device path (Kind::Device)
  ElmTarget elm;        // Kind::Elm

  static PortChoice Com(uint16_t n) { return {Kind::Number, n, {}, {}}; }
  static PortChoice Path(const QString& path) { return {Kind::Device, 1, path, {}}; }
  static PortChoice VirtualEcu() { return {Kind::Virtual, 1, {}, {}}; }
  static PortChoice Elm327(const ElmTarget& target) {
    return {Kind::Elm,
            target.kind == ElmTarget::Kind::ComNumber ? target.number : uint16_t{1},
            {},
            target};
  }
  static PortChoice VirtualElm327() { return {Kind::VirtualElm, 1, {}, {}}; }
  bool operator==(const PortChoice&) const = default;
};

// The entry of the port prompt that chooses the built-in virtual ECU.
QString VirtualEcuChoiceText();
// The entry that chooses the virtual ECU behind a virtual ELM327.
QString VirtualElmChoiceText();

// Turns the answer of the port prompt (or of --port) into a choice: a 32-bit integer is the COM
// port ComPortNumber makes of it; a path (starting with "/" off Windows, "\\" or "COM" on
// Windows) is that device; "elm:..." is an ELM327 (a text of that kind that names no port
// stays as given, so that opening it fails with the port's message); the virtual-ECU entries
// are the virtual ECU; anything else, an empty answer included, is COM1.
PortChoice ParsePortAnswer(const QString& answer);

// The 16-bit ComPort of an integer answer: its low 16 bits, so that a negative or too large
// number reaches OpenPort and gets its refusal message (-2 is 65534, which OpenPort refuses at
// once; -1 is 65535, which the system refuses) instead of quietly becoming COM1.
uint16_t ComPortNumber(int32_t answer);

// "COM1", "/dev/ttyUSB0", "ELM327 COM5" or the virtual ECU's short name, for the window caption.
QString PortCaption(const PortChoice& choice);

// The entries the port prompt offers: "1".."4" (on Linux /dev/ttyS0..3), the USB serial
// devices present on this machine (Linux: /dev/ttyUSB*, /dev/ttyACM*), the Bluetooth serial
// ports as ELM327 adapters (Linux: elm:/dev/rfcomm*), and the virtual ECU with and without a
// virtual ELM327.
QStringList PortPromptEntries();

}  // namespace kvd
