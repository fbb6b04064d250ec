// SPDX-License-Identifier: GPL-3.0-or-later
// The port the program talks through, as the user chose it at start.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kvd {

struct PortChoice {
  enum class Kind { Number, Device, Virtual };
  Kind kind = Kind::Number;
  uint16_t number = 1;  // COM port number (Kind::Number); also ComPort for the messages
  QString device;       // device path (Kind::Device)

  static PortChoice Com(uint16_t n) { return {Kind::Number, n, {}}; }
  static PortChoice Path(const QString& path) { return {Kind::Device, 1, path}; }
  static PortChoice VirtualEcu() { return {Kind::Virtual, 1, {}}; }
  bool operator==(const PortChoice&) const = default;
};

// The entry of the port prompt that chooses the built-in virtual ECU.
QString VirtualEcuChoiceText();

// Turns the answer of the port prompt (or of --port) into a choice: a 32-bit integer is the COM
// port ComPortNumber makes of it; a path (starting with "/" off Windows, "\\" or "COM" on
// Windows) is that device; the virtual-ECU entry is the virtual ECU; anything else, an empty
// answer included, is COM1.
PortChoice ParsePortAnswer(const QString& answer);

// The 16-bit ComPort of an integer answer: its low 16 bits, so that a negative or too large
// number reaches OpenPort and gets its refusal message (-2 is 65534, which OpenPort refuses at
// once; -1 is 65535, which the system refuses) instead of quietly becoming COM1.
uint16_t ComPortNumber(int32_t answer);

// "COM1", "/dev/ttyUSB0" or the virtual ECU's short name, for the window caption.
QString PortCaption(const PortChoice& choice);

// The entries the port prompt offers: "1".."4" (on Linux /dev/ttyS0..3), the USB serial
// devices present on this machine (Linux: /dev/ttyUSB*, /dev/ttyACM*) and the virtual ECU.
QStringList PortPromptEntries();

}  // namespace kvd
