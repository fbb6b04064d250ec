// Serves the virtual ECU on a pseudo-terminal or a serial device (a COM port on Windows), in
// real time.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/clock.h"
#include "sim/virtual_ecu.h"

namespace kvd {

// The far end of a tester's serial port. A pseudo-terminal delivers bytes at once and carries
// no break, so the server paces the line itself: each byte the tester writes counts as
// received one byte time (10400 baud) after the previous one, its echo goes back at that
// moment, and the ECU's answers leave byte by byte at the same rate. The ECU takes a
// StartCommunication after an idle line as the wake-up. The line counts as opened when a tester
// opens the pseudo-terminal (where the system tells; else, and on a device, when serving starts).
class EcuLineServer {
 public:
  EcuLineServer(VirtualEcu& ecu, Clock& clock, bool echo = true);
  ~EcuLineServer();
  EcuLineServer(const EcuLineServer&) = delete;
  EcuLineServer& operator=(const EcuLineServer&) = delete;

  // Creates a new pseudo-terminal; its slave stays open and raw for the life of the server,
  // so that a tester's open never meets a hung-up or cooked line. False with a message.
  bool OpenPseudoTerminal(std::string& error);
  // Opens a serial device at 10400 baud, 8 data bits, no parity, one stop bit. On Windows
  // the device is a COM port: "COM5", "5" or \\.\COM5. There is no pseudo-terminal there.
  bool OpenDevice(const std::string& path, std::string& error);
  // The path a tester opens: the pseudo-terminal's slave, or the device.
  const std::string& TesterPath() const { return testerPath_; }

  // Called on every turn of the serving loop (at least every 100 ms and after each signal),
  // for switching faults while serving.
  void SetLoopHook(std::function<void()> hook) { hook_ = std::move(hook); }

  // Serves until stop becomes true (checked at least every 100 ms) or a fatal error.
  // Returns 0, or 1 after an error that is written to error.
  int Run(const std::atomic<bool>& stop, std::string& error);

 private:
  struct TimedByte {
    uint64_t atUs;
    uint8_t value;
  };
  void Queue(uint64_t atUs, uint8_t value);
  void Collect();
  // Bytes the tester wrote, as they cross the line one after another from now on.
  void Receive(const uint8_t* bytes, size_t n);
  void Flush(uint64_t nowUs);
  // Takes the queued bytes whose time has come, in order.
  std::vector<uint8_t> TakeDue(uint64_t nowUs);
  // How long the serving loop may wait for the tester: until the next queued byte is due,
  // rounded up to a millisecond, and never longer than 100 ms.
  uint32_t WaitMs(uint64_t nowUs) const;
  void Close();

  VirtualEcu& ecu_;
  Clock& clock_;
  bool echo_;
  bool pty_ = false;
  int fd_ = -1;           // master of the pseudo-terminal, or the device
  int slaveFd_ = -1;      // kept open while serving a pseudo-terminal
  int openWatchFd_ = -1;  // tells when a tester opens the pseudo-terminal (-1: not known)
  void* port_ = nullptr;  // the COM port's HANDLE on Windows
  std::string testerPath_;
  uint64_t wireFreeUs_ = 0;
  std::deque<TimedByte> out_;
  std::function<void()> hook_;
};

}  // namespace kvd
