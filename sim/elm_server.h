// Serves the virtual ELM327 adapter (and the ECU behind it) in real time: on a pseudo-terminal,
// as a USB or Bluetooth adapter shows up, or on a TCP port of 127.0.0.1, as a Wi-Fi one.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "link/clock.h"
#include "sim/virtual_elm.h"

namespace kvd {

// The adapter's text goes out byte by byte at its host rate; what the host writes counts as
// arriving at that rate too. The adapter is powered when serving starts and stays so while
// hosts come and go. A TCP server takes one host at a time; another that connects meanwhile is
// closed at once. Linux and other POSIX systems only.
class ElmServer {
 public:
  ElmServer(VirtualElm327& adapter, Clock& clock);
  ~ElmServer();
  ElmServer(const ElmServer&) = delete;
  ElmServer& operator=(const ElmServer&) = delete;

  // A new pseudo-terminal; its path is what a host opens. False with a message.
  bool OpenPseudoTerminal(std::string& error);
  // Listens on 127.0.0.1:port (0: a free port the system picks). False with a message.
  bool ListenTcp(uint16_t port, std::string& error);
  // The pseudo-terminal's path, or "127.0.0.1:PORT".
  const std::string& HostPath() const { return hostPath_; }

  // Called on every turn of the serving loop (at least every 100 ms), for switching faults.
  void SetLoopHook(std::function<void()> hook) { hook_ = std::move(hook); }
  // Told when a TCP host connects (true) or goes (false).
  std::function<void(bool)> OnHost;

  // Serves until stop becomes true (checked at least every 100 ms) or a fatal error.
  // Returns 0, or 1 after an error that is written to error.
  int Run(const std::atomic<bool>& stop, std::string& error);

 private:
  void Close();
  void DropClient();
  void Flush(uint64_t nowUs);

  VirtualElm327& adapter_;
  Clock& clock_;
  int fd_ = -1;        // pseudo-terminal master, or the connected TCP host
  int slaveFd_ = -1;   // kept open while serving a pseudo-terminal
  int listenFd_ = -1;  // TCP
  std::string hostPath_;
  std::function<void()> hook_;
};

}  // namespace kvd
