// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/port_choice.h"

#include <QDir>

namespace kvd {

QString VirtualEcuChoiceText() {
  return QStringLiteral("Виртуальный ЭБУ (демонстрация)");
}

QString VirtualElmChoiceText() {
  return QStringLiteral("Виртуальный ЭБУ через ELM327 (демонстрация)");
}

PortChoice ParsePortAnswer(const QString& answer) {
  const QString text = answer.trimmed();
  if (text == VirtualElmChoiceText()) return PortChoice::VirtualElm327();
  if (IsElmPortText(text.toStdString())) {
    if (const std::optional<ElmTarget> target = ParseElmPortText(text.toStdString()))
      return PortChoice::Elm327(*target);
    ElmTarget unknown;
    unknown.kind = ElmTarget::Kind::Device;
    unknown.device = text.toStdString();
    return PortChoice::Elm327(unknown);
  }
  if (text == VirtualEcuChoiceText() ||
      text.compare(QStringLiteral("virtual"), Qt::CaseInsensitive) == 0 ||
      text.compare(QStringLiteral("demo"), Qt::CaseInsensitive) == 0)
    return PortChoice::VirtualEcu();
#ifdef Q_OS_WIN
  if (text.startsWith(QStringLiteral("\\\\"))) return PortChoice::Path(text);
  if (text.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) {
    bool ok = false;
    const int n = text.mid(3).toInt(&ok);
    if (ok) return PortChoice::Com(ComPortNumber(n));
  }
#else
  if (text.startsWith(QLatin1Char('/'))) return PortChoice::Path(text);
#endif
  bool ok = false;
  const int n = text.toInt(&ok);
  if (ok) return PortChoice::Com(ComPortNumber(n));
  return PortChoice::Com(1);
}

uint16_t ComPortNumber(int32_t answer) {
  // The low 16 bits, as a 16-bit variable takes an integer: -2 is 65534, 70000 is 4464.
  return static_cast<uint16_t>(static_cast<uint32_t>(answer) & 0xFFFFu);
}

QString PortCaption(const PortChoice& choice) {
  switch (choice.kind) {
    case PortChoice::Kind::Number:
      return QStringLiteral("COM%1").arg(choice.number);
    case PortChoice::Kind::Device:
      return choice.device;
    case PortChoice::Kind::Virtual:
      return QStringLiteral("Виртуальный ЭБУ");
    case PortChoice::Kind::Elm:
      return QString::fromStdString(ElmCaption(choice.elm));
    case PortChoice::Kind::VirtualElm:
      return QStringLiteral("Виртуальный ЭБУ, ELM327");
  }
  return {};
}

QStringList PortPromptEntries() {
  QStringList entries = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                         QStringLiteral("4")};
#ifndef Q_OS_WIN
  const QDir dev(QStringLiteral("/dev"));
  const QStringList usb = dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                        QDir::System, QDir::Name);
  for (const QString& name : usb) entries << dev.filePath(name);
  const QStringList bluetooth =
      dev.entryList({QStringLiteral("rfcomm*")}, QDir::System, QDir::Name);
  for (const QString& name : bluetooth) entries << QStringLiteral("elm:") + dev.filePath(name);
#endif
  entries << VirtualEcuChoiceText() << VirtualElmChoiceText();
  return entries;
}

}  // namespace kvd
