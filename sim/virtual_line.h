// A serial port whose far end is the virtual ECU: the K-line in a box.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "link/clock.h"
#include "link/serial_port.h"
#include "sim/virtual_ecu.h"

namespace kvd {

// A passive SerialPort. Bytes written go out at the line's baud rate, come back as the echo of
// a K-line and reach the ECU; its answers arrive P2 after the request at the same byte rate.
// No thread: a read works out from the clock which bytes have arrived by now and, to wait,
// sleeps the clock until the next byte is due or the read time-outs (Windows meaning) run out.
// On a VirtualClock a whole connect takes microseconds with exact timing; on a RealClock it
// runs in real time (the program's demo mode).
class VirtualLine final : public SerialPort {
 public:
  struct Options {
    // A line that carries a break (an adapter on a real K-line). When false, like a
    // pseudo-terminal, SetBreak succeeds without effect and the ECU is switched to take a
    // StartCommunication after an idle line as the wake-up.
    bool carriesBreak = true;
  };

  VirtualLine(VirtualEcu& ecu, Clock& clock);
  VirtualLine(VirtualEcu& ecu, Clock& clock, Options options);

  int32_t OpenPort(uint16_t port) override;
  int32_t OpenDevice(const std::string& path) override;
  bool IsOpen() const override { return open_; }
  std::string DeviceName() const override { return deviceName_; }
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

  // For tests and the demo's status.
  bool Dtr() const { return dtr_; }
  bool Rts() const { return rts_; }
  bool BreakOn() const { return breakOn_; }
  uint32_t BaudRate() const { return baud_; }
  VirtualEcu& Ecu() { return ecu_; }

 private:
  struct TimedByte {
    uint64_t atUs;
    uint8_t value;
  };

  bool LineUsable() const;  // the tester's line settings match the ECU's
  void Queue(uint64_t atUs, uint8_t value);
  void CollectTransmissions();
  // Lets the ECU act on the time that has passed (a session timing out), then collects.
  void CatchUp();

  VirtualEcu& ecu_;
  Clock& clock_;
  Options options_;
  bool open_ = false;
  std::string deviceName_;
  uint32_t baud_ = 9600;
  uint8_t dataBits_ = 8;
  uint8_t parity_ = 0;
  uint8_t stopBits_ = 1;
  SerialTimeouts timeouts_{};
  bool dtr_ = false;
  bool rts_ = false;
  bool breakOn_ = false;
  uint64_t breakStartUs_ = 0;
  uint64_t txFreeAtUs_ = 0;
  std::deque<TimedByte> rx_;
};

}  // namespace kvd
