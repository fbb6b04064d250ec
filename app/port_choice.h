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

// Turns the answer of the port prompt (or of --port) into a choice: a number 0..65535 is that
// COM port; a path (starting with "/" off Windows, "\\" or "COM" on Windows) is that device;
// the virtual-ECU entry is the virtual ECU; anything else, an empty answer included, is COM1.
PortChoice ParsePortAnswer(const QString& answer);

// "COM1", "/dev/ttyUSB0" or the virtual ECU's short name, for the window caption.
QString PortCaption(const PortChoice& choice);

// The entries the port prompt offers: "1".."4" (on Linux /dev/ttyS0..3), the USB serial
// devices present on this machine (Linux: /dev/ttyUSB*, /dev/ttyACM*) and the virtual ECU.
QStringList PortPromptEntries();

}  // namespace kvd
