// SPDX-License-Identifier: GPL-3.0-or-later
// The TCP port of a Wi-Fi adapter, on POSIX sockets or Winsock.
#include "link/tcp_port.h"

#ifdef _WIN32
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <mutex>

namespace kvd {

namespace {

constexpr intptr_t kNoSocket = -1;
constexpr uint32_t kMaxDword = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kWriteLimitMs = 1000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

#ifdef _WIN32
using Socket = SOCKET;
Socket Native(intptr_t s) {
  return static_cast<SOCKET>(s);
}
bool StartSockets() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ok;
}
void CloseSocket(intptr_t s) {
  closesocket(Native(s));
}
bool SetNonBlocking(intptr_t s) {
  u_long on = 1;
  return ioctlsocket(Native(s), FIONBIO, &on) == 0;
}
bool WouldBlock() {
  const int e = WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}
bool Interrupted() {
  return WSAGetLastError() == WSAEINTR;
}
int PollOne(intptr_t s, short events, int timeoutMs) {
  WSAPOLLFD p{};
  p.fd = Native(s);
  p.events = events;
  const int n = WSAPoll(&p, 1, timeoutMs);
  if (n > 0 && (p.revents & (events | POLLHUP | POLLERR))) return 1;
  return n < 0 ? -1 : 0;
}
int SendSome(intptr_t s, const uint8_t* bytes, size_t count) {
  return send(Native(s), reinterpret_cast<const char*>(bytes),
              static_cast<int>(std::min<size_t>(count, 1 << 20)), 0);
}
int RecvSome(intptr_t s, uint8_t* buffer, size_t count) {
  return recv(Native(s), reinterpret_cast<char*>(buffer),
              static_cast<int>(std::min<size_t>(count, 1 << 20)), 0);
}
#else
using Socket = int;
Socket Native(intptr_t s) {
  return static_cast<int>(s);
}
bool StartSockets() {
  return true;
}
void CloseSocket(intptr_t s) {
  close(Native(s));
}
bool SetNonBlocking(intptr_t s) {
  const int flags = fcntl(Native(s), F_GETFL);
  return flags >= 0 && fcntl(Native(s), F_SETFL, flags | O_NONBLOCK) == 0;
}
bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS;
}
bool Interrupted() {
  return errno == EINTR;
}
int PollOne(intptr_t s, short events, int timeoutMs) {
  pollfd p{};
  p.fd = Native(s);
  p.events = events;
  const int n = poll(&p, 1, timeoutMs);
  if (n > 0 && (p.revents & (events | POLLHUP | POLLERR))) return 1;
  return n < 0 ? (errno == EINTR ? 0 : -1) : 0;
}
int SendSome(intptr_t s, const uint8_t* bytes, size_t count) {
  return static_cast<int>(send(Native(s), bytes, count, MSG_NOSIGNAL));
}
int RecvSome(intptr_t s, uint8_t* buffer, size_t count) {
  return static_cast<int>(recv(Native(s), buffer, count, 0));
}
#endif

// Milliseconds left until deadlineMs, for a poll (0 when past).
int Remaining(int64_t deadlineMs) {
  const int64_t left = deadlineMs - NowMs();
  return static_cast<int>(std::clamp<int64_t>(left, 0, std::numeric_limits<int>::max()));
}

// A connection to one address, made within the time limit; kNoSocket when it fails.
intptr_t ConnectTo(const addrinfo* a, int64_t deadlineMs) {
  const Socket raw = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
#ifdef _WIN32
  if (raw == INVALID_SOCKET) return kNoSocket;
#else
  if (raw < 0) return kNoSocket;
#endif
  const auto s = static_cast<intptr_t>(raw);
  if (!SetNonBlocking(s)) {
    CloseSocket(s);
    return kNoSocket;
  }
  if (connect(raw, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
    if (!WouldBlock()) {
      CloseSocket(s);
      return kNoSocket;
    }
    if (PollOne(s, POLLOUT, Remaining(deadlineMs)) != 1) {
      CloseSocket(s);
      return kNoSocket;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0) {
      CloseSocket(s);
      return kNoSocket;
    }
  }
  // Short command lines: each goes out at once.
  int on = 1;
  setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return s;
}

}  // namespace

bool ParseTcpAddress(const std::string& textIn, std::string& host, uint16_t& port) {
  std::string_view text = textIn;
  if (text.substr(0, 4) == "tcp:" || text.substr(0, 4) == "TCP:") text.remove_prefix(4);
  size_t colon = 0;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    host = std::string(text.substr(1, close - 1));
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    host = std::string(text.substr(0, colon));
    if (host.find(':') != std::string::npos) return false;  // an IPv6 address needs brackets
  }
  const std::string_view digits = text.substr(colon + 1);
  uint32_t n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (host.empty() || digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
      n == 0 || n > 65535)
    return false;
  port = static_cast<uint16_t>(n);
  return true;
}

TcpPort::TcpPort() : socket_(kNoSocket) {}

TcpPort::~TcpPort() {
  ClosePort();
}

int32_t TcpPort::OpenPort(uint16_t) {
  return IsOpen() ? kPortAlreadyOpen : kPortOsRefused;
}

int32_t TcpPort::OpenDevice(const std::string& address) {
  if (IsOpen()) return kPortAlreadyOpen;
  name_ = address;
  std::string host;
  uint16_t port = 0;
  if (!ParseTcpAddress(address, host, port) || !StartSockets()) return kPortOsRefused;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
    return kPortOsRefused;
  const int64_t deadline = NowMs() + ConnectTimeoutMs;
  for (const addrinfo* a = found; a && socket_ == kNoSocket; a = a->ai_next)
    socket_ = ConnectTo(a, deadline);
  freeaddrinfo(found);
  if (socket_ == kNoSocket) return kPortOsRefused;
  broken_ = false;
  return kPortOk;
}

bool TcpPort::IsOpen() const {
  return socket_ != kNoSocket;
}

int32_t TcpPort::SetLineParameters(uint32_t, uint8_t, uint8_t, uint8_t) {
  return IsOpen() ? kPortOk : kLineStateUnreadable;
}

bool TcpPort::SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
  timeouts_ = SerialTimeouts{interval, multiplier, constant, 100, 100};
  return IsOpen();
}

bool TcpPort::GetTimeouts(SerialTimeouts& out) {
  if (!IsOpen()) return false;
  out = timeouts_;
  return true;
}

bool TcpPort::PurgePort() {
  if (!IsOpen()) return false;
  uint8_t scratch[512];
  // Only what is there now; a stream that never stops is cut off after a while.
  for (int i = 0; i < 128 && PollOne(socket_, POLLIN, 0) == 1; ++i) {
    const int n = RecvSome(socket_, scratch, sizeof scratch);
    if (n <= 0) {
      if (n == 0 || !WouldBlock()) broken_ = true;
      break;
    }
  }
  return true;
}

int32_t TcpPort::WriteBytes(uint32_t count, const uint8_t* bytes) {
  if (!IsOpen() || broken_ || count == 0 || bytes == nullptr) return -1;
  const int64_t deadline = NowMs() + static_cast<int64_t>(kWriteLimitMs);
  uint32_t written = 0;
  while (written < count) {
    const int n = SendSome(socket_, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && Interrupted()) continue;
    if (n < 0 && WouldBlock() && PollOne(socket_, POLLOUT, Remaining(deadline)) == 1) continue;
    broken_ = n < 0 && !WouldBlock();
    break;
  }
  return written > 0 ? 0 : -1;
}

int32_t TcpPort::ReadBytes(uint32_t count, uint8_t* buffer) {
  if (!IsOpen() || broken_ || buffer == nullptr || count == 0) return -1;
  const SerialTimeouts& t = timeouts_;
  const int64_t start = NowMs();
  const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword;
  const bool returnOnFirst =
      t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
      t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
  int64_t totalDeadline = start;
  if (returnOnFirst) {
    totalDeadline = start + t.ReadTotalTimeoutConstant;
  } else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    totalDeadline = start + static_cast<int64_t>(uint64_t{t.ReadTotalTimeoutMultiplier} * count +
                                                 t.ReadTotalTimeoutConstant);
  } else if (useInterval) {
    totalDeadline = start + t.ReadIntervalTimeout;  // never a wait without end
  }
  uint32_t got = 0;
  int64_t lastByte = start;
  while (got < count) {
    int64_t deadline = totalDeadline;
    if (got > 0 && useInterval) deadline = std::min(deadline, lastByte + t.ReadIntervalTimeout);
    if (got > 0 && returnOnFirst) deadline = start;
    if (PollOne(socket_, POLLIN, Remaining(deadline)) != 1) break;
    const int n = RecvSome(socket_, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      lastByte = NowMs();
    } else if (n < 0 && (Interrupted() || WouldBlock())) {
      continue;
    } else {
      broken_ = true;  // the adapter closed the connection, or it failed
      break;
    }
  }
  return got == 0 ? -1 : static_cast<int32_t>(got);
}

int32_t TcpPort::ReadByte() {
  uint8_t b = 0;
  return ReadBytes(1, &b) == 1 ? b : -1;
}

void TcpPort::ClosePort() {
  if (!IsOpen()) return;
  CloseSocket(socket_);
  socket_ = kNoSocket;
  broken_ = false;
}

}  // namespace kvd
