// A Wi-Fi ELM327 adapter's TCP port, used like a serial port: the adapter's text arrives through
// the same reads with the same time-outs.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace kvd {

// "HOST:PORT" (a leading "tcp:" is allowed; an IPv6 address goes in brackets, "[::1]:35000")
// into its parts; false when the text is not of that form or the port lies outside 1..65535.
bool ParseTcpAddress(const std::string& text, std::string& host, uint16_t& port);

// A TCP connection to HOST:PORT. OpenDevice connects (within ConnectTimeoutMs); the line
// parameters, the break and the modem lines mean nothing here and are accepted as they come;
// reads follow the read time-outs as the serial back-ends do. Nothing but the one connection is
// made (a host name is looked up by the system's resolver).
class TcpPort final : public SerialPort {
 public:
  TcpPort();
  ~TcpPort() override;
  TcpPort(const TcpPort&) = delete;
  TcpPort& operator=(const TcpPort&) = delete;

  uint32_t ConnectTimeoutMs = 3000;

  // A TCP port has no number: always kPortOsRefused.
  int32_t OpenPort(uint16_t port) override;
  int32_t OpenDevice(const std::string& address) override;
  bool IsOpen() const override;
  std::string DeviceName() const override { return name_; }
  int32_t SetLineParameters(uint32_t, uint8_t, uint8_t, uint8_t) override;
  bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) override;
  bool GetTimeouts(SerialTimeouts& out) override;
  bool SetBreak(bool) override { return false; }
  bool SetModemLines(bool, bool) override { return IsOpen(); }
  // Throws away what has arrived and not been read.
  bool PurgePort() override;
  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override;
  int32_t ReadByte() override;
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override;
  void ClosePort() override;

 private:
  intptr_t socket_;      // the platform's socket handle, or the platform's invalid value
  bool broken_ = false;  // the far end closed the connection, or it failed
  std::string name_;
  SerialTimeouts timeouts_{};
};

}  // namespace kvd
