// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual adapter's server is not available on Windows: it says so.
#include "sim/elm_server.h"

namespace kvd {

namespace {
constexpr const char* kNotHere =
    "the virtual ELM327 is served on Linux only (pseudo-terminal or 127.0.0.1); on Windows "
    "the program's --demo elm327 runs it in-process";
}  // namespace

ElmServer::ElmServer(VirtualElm327& adapter, Clock& clock) : adapter_(adapter), clock_(clock) {}

ElmServer::~ElmServer() = default;

void ElmServer::Close() {}
void ElmServer::DropClient() {}
void ElmServer::Flush(uint64_t) {}

bool ElmServer::OpenPseudoTerminal(std::string& error) {
  error = kNotHere;
  return false;
}

bool ElmServer::ListenTcp(uint16_t, std::string& error) {
  error = kNotHere;
  return false;
}

int ElmServer::Run(const std::atomic<bool>&, std::string& error) {
  error = kNotHere;
  return 1;
}

}  // namespace kvd
