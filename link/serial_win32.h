// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port on Windows: a COM device driven through the communications calls of kernel32.
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace kvd {

class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  int32_t OpenPort(uint16_t port) override;
  int32_t OpenDevice(const std::string& path) override;
  bool IsOpen() const override { return open_; }
  std::string DeviceName() const override { return device_; }

  int32_t SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                            uint8_t stopBits) override;
  bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) override;
  bool GetTimeouts(SerialTimeouts& out) override;
  bool SetBreak(bool on) override;
  bool SetModemLines(bool dtr, bool rts) override;
  bool PurgePort() override;
  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override;
  int32_t ReadByte() override;
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override;
  void ClosePort() override;

  // GetLastError() of the last failed open, for messages.
  uint32_t LastOpenError() const { return lastOpenError_; }

 private:
  void* handle_ = nullptr;  // HANDLE; kept opaque so that <windows.h> stays out of this header
  bool open_ = false;
  std::string device_;
  uint32_t lastOpenError_ = 0;
};

}  // namespace kvd
