// The one serial port through which the program reaches the K-line adapter.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kvd {

// The five time-outs of a port, in milliseconds, with the meaning the Windows serial
// driver gives them: a read ends when the gap between two bytes exceeds the interval
// (0 = no interval limit) or when multiplier x count + constant has passed in total.
struct SerialTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Result codes of OpenPort and SetLineParameters.
enum : int32_t {
  kPortOk = 0,
  kPortAlreadyOpen = -1,      // OpenPort: a port is open already, nothing touched
  kPortNumberRefused = -2,    // OpenPort: 65527..65534, refused without asking the OS
  kPortOsRefused = -4,        // OpenPort: the OS refused the device
  kLineStateUnreadable = -1,  // SetLineParameters: current state cannot be read
  kLineStateRefused = -2,     // SetLineParameters: the OS refused the new state
};

// Parity codes of SetLineParameters: 0 none, 1 odd, 2 even, anything else mark.
// Stop-bit codes: 1 one, 2 two, anything else one and a half.

// One serial port. An instance holds at most one open port; the application owns
// exactly one instance for the process. All operations are synchronous.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens port number n (COMn on Windows, /dev/ttyS(n-1) on Linux).
  // 0 opened, -1 already open, -2 number in 65527..65534, -4 the OS refused.
  virtual int32_t OpenPort(uint16_t port) = 0;
  // Opens a device by path (Linux: "/dev/ttyUSB0"; Windows: "\\\\.\\COM12").
  // Same result codes as OpenPort (without -2).
  virtual int32_t OpenDevice(const std::string& path) = 0;
  // PortOpen of the unit.
  virtual bool IsOpen() const = 0;
  // The device that is open (or was last opened), for messages.
  virtual std::string DeviceName() const = 0;

  // 0 applied, -1 current state unreadable, -2 new state refused. Afterwards RTS is
  // held on and DTR held off.
  virtual int32_t SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                    uint8_t stopBits) = 0;
  // Sets the three read time-outs; write time-outs become 100 ms multiplier and 100 ms
  // constant. Returns the success flag.
  virtual bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) = 0;
  virtual bool GetTimeouts(SerialTimeouts& out) = 0;
  // Holds the transmit line low (true) or releases it (false).
  virtual bool SetBreak(bool on) = 0;
  // Sets RTS first, then DTR.
  virtual bool SetModemLines(bool dtr, bool rts) = 0;
  // Aborts pending I/O and clears both queues.
  virtual bool PurgePort() = 0;
  // 0 if the write succeeded with a nonzero byte count, else -1.
  virtual int32_t WriteBytes(uint32_t count, const uint8_t* bytes) = 0;
  // The next byte 0..255, or -1 on error or time-out.
  virtual int32_t ReadByte() = 0;
  // Bytes placed in buffer (may be fewer than count when the time-outs expire),
  // or -1 on error or when nothing arrived.
  virtual int32_t ReadBytes(uint32_t count, uint8_t* buffer) = 0;
  // Drops RTS and DTR and closes; does nothing when no port is open.
  virtual void ClosePort() = 0;
};

// Port numbers 65527..65534 (-9..-2 as signed 16-bit) are refused without asking the OS.
constexpr bool IsRefusedPortNumber(uint16_t port) {
  return port >= 65527 && port <= 65534;
}

}  // namespace kvd
