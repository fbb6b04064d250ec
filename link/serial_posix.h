// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port on Linux and other POSIX systems: a tty device in raw mode, with the read
// and write time-outs of the Windows driver rebuilt on poll() and the monotonic clock.
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace kvd {

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  int32_t OpenPort(uint16_t port) override;
  int32_t OpenDevice(const std::string& path) override;
  bool IsOpen() const override { return fd_ >= 0; }
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

  // The OS error of the last failed open, for messages ("No such file or directory").
  int LastOpenError() const { return lastOpenError_; }
  // The file descriptor while open, else -1.
  int Handle() const { return fd_; }

 private:
  int fd_ = -1;
  std::string device_;
  int lastOpenError_ = 0;
  SerialTimeouts timeouts_;
};

}  // namespace kvd
