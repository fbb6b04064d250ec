// SPDX-License-Identifier: GPL-3.0-or-later
// The line server on Windows: the virtual ECU on a COM port (one end of a pair of virtual
// null-modem ports, or a second adapter wired to the tester's).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "sim/line_server.h"

namespace kvd {

namespace {

HANDLE AsHandle(void* h) {
  return static_cast<HANDLE>(h);
}

std::string LastErrorText(const std::string& what) {
  return what + ": Windows error " + std::to_string(GetLastError());
}

// "5" and "COM5" (any case) become \\.\COM5, which also reaches ports above COM9; any
// other name is taken as it stands.
std::string ComDeviceName(const std::string& name) {
  std::string digits = name;
  if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(digits[2])) == 'M')
    digits = digits.substr(3);
  if (!digits.empty() && digits.size() <= 5 &&
      std::all_of(digits.begin(), digits.end(),
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
    return "\\\\.\\COM" + digits;
  return name;
}

// Reads return at once with what is there, or wait up to waitMs for the first byte.
bool SetWait(HANDLE h, DWORD waitMs) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = std::max<DWORD>(1, waitMs);
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 500;
  return SetCommTimeouts(h, &t) != FALSE;
}

}  // namespace

EcuLineServer::~EcuLineServer() {
  Close();
}

void EcuLineServer::Close() {
  if (port_ != nullptr) CloseHandle(AsHandle(port_));
  port_ = nullptr;
}

bool EcuLineServer::OpenPseudoTerminal(std::string& error) {
  error = "Windows has no pseudo-terminals: serve a COM port with --device COMn";
  return false;
}

bool EcuLineServer::OpenDevice(const std::string& path, std::string& error) {
  Close();
  const std::string device = ComDeviceName(path);
  const HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = LastErrorText(path);
    return false;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  bool ok = GetCommState(h, &dcb) != FALSE;
  if (ok) {
    dcb.BaudRate = kKLineBaud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    ok = SetCommState(h, &dcb) != FALSE;
  }
  if (!ok || !SetWait(h, 100)) {
    error = path + ": the device refuses 10400 baud 8N1";
    CloseHandle(h);
    return false;
  }
  PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
  port_ = h;
  pty_ = false;
  testerPath_ = path;
  return true;
}

void EcuLineServer::Flush(uint64_t nowUs) {
  const std::vector<uint8_t> due = TakeDue(nowUs);
  if (due.empty()) return;
  DWORD written = 0;
  // A port that takes nothing (nobody reads) loses the bytes, as a wire would.
  WriteFile(AsHandle(port_), due.data(), static_cast<DWORD>(due.size()), &written, nullptr);
}

int EcuLineServer::Run(const std::atomic<bool>& stop, std::string& error) {
  if (port_ == nullptr) {
    error = "nothing to serve: no line open";
    return 1;
  }
  ecu_.LineOpened(clock_.MicrosNow());
  Collect();
  uint8_t buf[512];
  DWORD lastWait = 100;
  while (!stop.load()) {
    if (hook_) hook_();
    const uint64_t now = clock_.MicrosNow();
    Flush(now);
    const DWORD waitMs = WaitMs(now);
    if (waitMs != lastWait) {
      if (!SetWait(AsHandle(port_), waitMs)) {
        error = LastErrorText("setting the read time-out");
        return 1;
      }
      lastWait = waitMs;
    }
    DWORD got = 0;
    if (!ReadFile(AsHandle(port_), buf, sizeof buf, &got, nullptr)) {
      error = LastErrorText("the serial device went away");
      return 1;
    }
    if (got > 0) Receive(buf, got);
  }
  return 0;
}

}  // namespace kvd
