// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_win32.h"
#include "link/system_port.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace kvd {

namespace {

constexpr DWORD kQueueSize = 256;
constexpr DWORD kWriteMultiplierMs = 100;
constexpr DWORD kWriteConstantMs = 100;

HANDLE AsHandle(void* h) {
  return static_cast<HANDLE>(h);
}

BYTE ParityOf(uint8_t code) {
  switch (code) {
    case 0:
      return NOPARITY;
    case 1:
      return ODDPARITY;
    case 2:
      return EVENPARITY;
    default:
      return MARKPARITY;
  }
}

BYTE StopBitsOf(uint8_t code) {
  switch (code) {
    case 1:
      return ONESTOPBIT;
    case 2:
      return TWOSTOPBITS;
    default:
      return ONE5STOPBITS;
  }
}

}  // namespace

// The device namespace prefix lets ports above COM9 open as well, which the plain "COMn:"
// form does not.
std::string PortDeviceName(uint16_t n) {
  return "\\\\.\\COM" + std::to_string(n);
}

Win32SerialPort::~Win32SerialPort() {
  ClosePort();
}

int32_t Win32SerialPort::OpenPort(uint16_t port) {
  if (open_) return kPortAlreadyOpen;
  if (IsRefusedPortNumber(port)) return kPortNumberRefused;
  return OpenDevice(PortDeviceName(port));
}

int32_t Win32SerialPort::OpenDevice(const std::string& path) {
  if (open_) return kPortAlreadyOpen;
  device_ = path;
  lastOpenError_ = 0;
  const HANDLE h = CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    lastOpenError_ = GetLastError();
    return kPortOsRefused;
  }
  // A device that refuses the queue sizes is no usable serial port: give it back.
  if (!SetupComm(h, kQueueSize, kQueueSize)) {
    lastOpenError_ = GetLastError();
    CloseHandle(h);
    return kPortOsRefused;
  }
  handle_ = h;
  open_ = true;
  return kPortOk;
}

int32_t Win32SerialPort::SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                           uint8_t stopBits) {
  if (!open_) return kLineStateUnreadable;
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (!GetCommState(AsHandle(handle_), &dcb)) return kLineStateUnreadable;
  dcb.BaudRate = baudRate;
  dcb.ByteSize = dataBits;
  dcb.Parity = ParityOf(parity);
  dcb.StopBits = StopBitsOf(stopBits);
  // The flag word as a whole: binary, RTS held on, DTR held off, no flow control of any kind,
  // no parity checking, no character replacement, no abort on error.
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.fDummy2 = 0;
  if (!SetCommState(AsHandle(handle_), &dcb)) return kLineStateRefused;
  return kPortOk;
}

bool Win32SerialPort::SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
  if (!open_) return false;
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  if (multiplier == 0 && constant == 0) {
    if (interval == 0) {
      // The driver would wait for the full count without end: return what is there instead.
      t.ReadIntervalTimeout = MAXDWORD;
    } else if (interval != MAXDWORD) {
      // Only an interval would wait for the first byte without end: give it one interval.
      t.ReadTotalTimeoutConstant = interval;
    }
  }
  t.WriteTotalTimeoutMultiplier = kWriteMultiplierMs;
  t.WriteTotalTimeoutConstant = kWriteConstantMs;
  return SetCommTimeouts(AsHandle(handle_), &t) != FALSE;
}

bool Win32SerialPort::GetTimeouts(SerialTimeouts& out) {
  if (!open_) return false;
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(AsHandle(handle_), &t)) return false;
  out.ReadIntervalTimeout = t.ReadIntervalTimeout;
  out.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
  out.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
  out.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
  out.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
  return true;
}

bool Win32SerialPort::SetBreak(bool on) {
  if (!open_) return false;
  return EscapeCommFunction(AsHandle(handle_), on ? SETBREAK : CLRBREAK) != FALSE;
}

bool Win32SerialPort::SetModemLines(bool dtr, bool rts) {
  if (!open_) return false;
  const bool rtsOk = EscapeCommFunction(AsHandle(handle_), rts ? SETRTS : CLRRTS) != FALSE;
  const bool dtrOk = EscapeCommFunction(AsHandle(handle_), dtr ? SETDTR : CLRDTR) != FALSE;
  return rtsOk && dtrOk;
}

bool Win32SerialPort::PurgePort() {
  if (!open_) return false;
  return PurgeComm(AsHandle(handle_),
                   PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}

int32_t Win32SerialPort::WriteBytes(uint32_t count, const uint8_t* bytes) {
  if (!open_ || count == 0 || bytes == nullptr) return -1;
  DWORD written = 0;
  if (!WriteFile(AsHandle(handle_), bytes, count, &written, nullptr)) return -1;
  return written > 0 ? 0 : -1;
}

int32_t Win32SerialPort::ReadByte() {
  if (!open_) return -1;
  uint8_t b = 0;
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), &b, 1, &got, nullptr) || got != 1) return -1;
  return b;
}

int32_t Win32SerialPort::ReadBytes(uint32_t count, uint8_t* buffer) {
  if (!open_ || count == 0 || buffer == nullptr) return -1;
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), buffer, count, &got, nullptr) || got == 0) return -1;
  return static_cast<int32_t>(got);
}

void Win32SerialPort::ClosePort() {
  if (!open_) return;
  SetModemLines(false, false);
  CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
  open_ = false;
}

}  // namespace kvd
