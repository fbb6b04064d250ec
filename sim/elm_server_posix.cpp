// SPDX-License-Identifier: GPL-3.0-or-later
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "sim/elm_server.h"
#include "sim/pty_posix.h"

namespace kvd {

namespace {

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

ElmServer::ElmServer(VirtualElm327& adapter, Clock& clock) : adapter_(adapter), clock_(clock) {}

ElmServer::~ElmServer() {
  Close();
}

void ElmServer::Close() {
  for (int* fd : {&fd_, &slaveFd_, &listenFd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

bool ElmServer::OpenPseudoTerminal(std::string& error) {
  Close();
  posix::PseudoTerminal pty;
  if (!posix::OpenPseudoTerminal(pty, error)) return false;
  fd_ = pty.master;
  slaveFd_ = pty.slave;
  hostPath_ = pty.path;
  return true;
}

bool ElmServer::ListenTcp(uint16_t port, std::string& error) {
  Close();
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = ErrnoText("socket");
    return false;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // this machine only
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0 ||
      !SetNonBlocking(fd) || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    error = ErrnoText(("127.0.0.1:" + std::to_string(port)).c_str());
    close(fd);
    return false;
  }
  listenFd_ = fd;
  hostPath_ = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  return true;
}

void ElmServer::DropClient() {
  if (listenFd_ < 0 || fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  if (OnHost) OnHost(false);
}

void ElmServer::Flush(uint64_t nowUs) {
  const std::vector<VirtualElm327::TimedByte> due = adapter_.TakeOutput(nowUs);
  if (fd_ < 0 || due.empty()) return;  // no host: the text is lost
  std::vector<uint8_t> bytes;
  bytes.reserve(due.size());
  for (const VirtualElm327::TimedByte& b : due) bytes.push_back(b.value);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = listenFd_ >= 0
                          ? send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                          : write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) DropClient();
      break;  // nobody reads (buffer full): the text is lost, as in the chip's full buffer
    }
  }
}

int ElmServer::Run(const std::atomic<bool>& stop, std::string& error) {
  if (fd_ < 0 && listenFd_ < 0) {
    error = "nothing to serve: no pseudo-terminal or port open";
    return 1;
  }
  adapter_.PowerOn(clock_.MicrosNow());
  uint8_t buf[512];
  while (!stop.load()) {
    if (hook_) hook_();
    const uint64_t now = clock_.MicrosNow();
    adapter_.Advance(now);
    Flush(now);
    uint64_t next = adapter_.NextEventUs();
    if (const auto out = adapter_.NextOutputUs()) next = std::min(next, *out);
    const uint64_t waitUs = next > now ? next - now : 0;
    const int timeoutMs = static_cast<int>(std::min<uint64_t>(100, (waitUs + 999) / 1000));
    pollfd fds[2] = {{fd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    const int r = poll(fds, 2, timeoutMs);  // a negative descriptor is skipped
    if (r < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText("poll");
      return 1;
    }
    if (fds[1].revents & POLLIN) {
      const int client = accept(listenFd_, nullptr, nullptr);
      if (client >= 0) {
        if (fd_ >= 0 || !SetNonBlocking(client)) {
          close(client);  // one host at a time, as the Wi-Fi adapters take
        } else {
          const int one = 1;
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          fd_ = client;
          if (OnHost) OnHost(true);
        }
      }
    }
    if (fd_ < 0 || fds[0].revents == 0) continue;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        adapter_.HostWrite(buf, static_cast<size_t>(n), clock_.MicrosNow());
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n == 0 && listenFd_ >= 0) {
        DropClient();
        continue;
      }
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      if (listenFd_ >= 0) {
        DropClient();
      } else {
        clock_.Sleep(20);  // nobody on the other side of the pseudo-terminal right now
      }
    }
  }
  return 0;
}

}  // namespace kvd
