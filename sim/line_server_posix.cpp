// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "link/termios2_posix.h"
#include "sim/line_server.h"
#include "sim/pty_posix.h"

#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace kvd {

namespace {
std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

EcuLineServer::~EcuLineServer() {
  Close();
}

void EcuLineServer::Close() {
  if (openWatchFd_ >= 0) close(openWatchFd_);
  if (slaveFd_ >= 0) close(slaveFd_);
  if (fd_ >= 0) close(fd_);
  openWatchFd_ = -1;
  slaveFd_ = -1;
  fd_ = -1;
}

namespace {

// A descriptor that becomes readable whenever somebody opens the file at path, or -1 where the
// system cannot tell.
int WatchOpens([[maybe_unused]] const std::string& path) {
#ifdef __linux__
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return -1;
  if (inotify_add_watch(fd, path.c_str(), IN_OPEN) < 0) {
    close(fd);
    return -1;
  }
  return fd;
#else
  return -1;
#endif
}

// Reads the pending events of WatchOpens; true when there was at least one.
bool TakeOpens(int fd) {
  bool any = false;
  alignas(8) char buf[1024];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      any = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return any;
  }
}

}  // namespace

bool EcuLineServer::OpenPseudoTerminal(std::string& error) {
  Close();
  posix::PseudoTerminal pty;
  if (!posix::OpenPseudoTerminal(pty, error)) return false;
  testerPath_ = pty.path;
  fd_ = pty.master;
  slaveFd_ = pty.slave;
  pty_ = true;
  // Our own open of the slave lies before the watch: only testers' opens are seen.
  openWatchFd_ = WatchOpens(testerPath_);
  return true;
}

bool EcuLineServer::OpenDevice(const std::string& path, std::string& error) {
  Close();
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText(path.c_str());
    return false;
  }
  if (posix::ApplyLine(fd, kKLineBaud, 8, 0, 1) != 0) {
    error = path + ": the device refuses 10400 baud 8N1";
    close(fd);
    return false;
  }
  fd_ = fd;
  pty_ = false;
  testerPath_ = path;
  return true;
}

void EcuLineServer::Flush(uint64_t nowUs) {
  const std::vector<uint8_t> due = TakeDue(nowUs);
  size_t done = 0;
  while (done < due.size()) {
    const ssize_t n = write(fd_, due.data() + done, due.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // nobody reads the line (buffer full): the bytes are lost, as on a wire
    }
  }
}

int EcuLineServer::Run(const std::atomic<bool>& stop, std::string& error) {
  if (fd_ < 0) {
    error = "nothing to serve: no line open";
    return 1;
  }
  // Without a way to see a tester open the line, the line counts as opened now.
  if (openWatchFd_ < 0) {
    ecu_.LineOpened(clock_.MicrosNow());
    Collect();
  }
  uint8_t buf[512];
  while (!stop.load()) {
    if (hook_) hook_();
    uint64_t now = clock_.MicrosNow();
    if (openWatchFd_ >= 0 && TakeOpens(openWatchFd_)) {
      // A tester opened the pseudo-terminal: whatever it finds there starts now.
      ecu_.LineOpened(now);
    }
    ecu_.Advance(now);
    Collect();
    Flush(now);
    const int timeoutMs = static_cast<int>(WaitMs(now));
    pollfd fds[2] = {{fd_, POLLIN, 0}, {openWatchFd_, POLLIN, 0}};
    const int r = poll(fds, openWatchFd_ >= 0 ? 2 : 1, timeoutMs);
    const pollfd& p = fds[0];
    if (r < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText("poll");
      return 1;
    }
    if (r == 0 || (p.revents == 0 && fds[1].revents != 0)) {
      // A tester that set exclusive use and closed again would lock the next one out while
      // the slave stays open here; its own lock on the open file still guards it.
      if (pty_) ioctl(slaveFd_, TIOCNXCL);
      continue;
    }
    if (p.revents & POLLIN) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        Receive(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      if (!pty_) {
        error = "the serial device went away";
        return 1;
      }
      clock_.Sleep(20);  // nobody on the other side right now
    }
  }
  return 0;
}

}  // namespace kvd
