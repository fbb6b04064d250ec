// SPDX-License-Identifier: GPL-3.0-or-later
// The frame trace: formatting of the lines and the file they go to.
#include "link/frame_trace.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace kvd {

namespace {

// The trace file: an unbuffered descriptor, so that each line reaches the operating system with
// its own write and nothing waits in a buffer of ours when the program dies.
class TraceFile {
 public:
  explicit TraceFile(int fd) : fd_(fd) {}
  ~TraceFile() {
#ifdef _WIN32
    _close(fd_);
#else
    ::close(fd_);
#endif
  }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  void Write(std::string_view line) {
    if (failed_) return;  // a full disk is not retried for every line
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
#ifdef _WIN32
      const int n = _write(fd_, p, static_cast<unsigned>(left));
#else
      const ssize_t n = ::write(fd_, p, left);
#endif
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = true;
        return;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }

 private:
  int fd_;
  bool failed_ = false;
};

}  // namespace

std::string HexBytes(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

FrameTrace::FrameTrace(Clock& clock, LineSink sink, std::string_view program)
    : clock_(clock), sink_(std::move(sink)), startUs_(clock.MicrosNow()) {
  Comment(std::string(program) + " frame trace; times in ms since the trace began");
}

std::unique_ptr<FrameTrace> FrameTrace::OpenFile(const std::filesystem::path& file, Clock& clock,
                                                 std::string_view program, std::string& error) {
#ifdef _WIN32
  int fd = -1;
  const errno_t e = _wsopen_s(&fd, file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                              _SH_DENYWR, _S_IREAD | _S_IWRITE);
  if (e != 0) fd = -1;
#else
  int fd = -1;
  do {
    fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
#endif
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  auto out = std::make_shared<TraceFile>(fd);
  return std::make_unique<FrameTrace>(
      clock, [out](std::string_view line) { out->Write(line); }, program);
}

void FrameTrace::Emit(std::string_view event, std::string_view details) {
  // Whole milliseconds: a byte takes about one on the line.
  const uint64_t ms = (clock_.MicrosNow() - startUs_) / 1000;
  char stamp[32];
  const int n = std::snprintf(stamp, sizeof stamp, "%8llu ", static_cast<unsigned long long>(ms));
  std::string line(stamp, n > 0 ? static_cast<size_t>(n) : 0);
  line += event;
  if (!details.empty()) {
    line += ' ';
    line += details;
  }
  line += '\n';
  ++lines_;
  if (sink_) sink_(line);
}

void FrameTrace::Break(bool on) {
  Emit("BREAK", on ? "on" : "off");
}

void FrameTrace::Sent(std::span<const uint8_t> frame) {
  Emit("TX", HexBytes(frame));
}

void FrameTrace::Echo(std::span<const uint8_t> sent, std::span<const uint8_t> echo) {
  if (sent.size() == echo.size() && std::equal(sent.begin(), sent.end(), echo.begin())) return;
  Emit("ECHO", HexBytes(echo) + " (differs from TX)");
}

void FrameTrace::Received(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  Emit("RX", HexBytes(bytes));
}

void FrameTrace::Noise(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  Emit("NOISE", HexBytes(bytes));
}

void FrameTrace::Timeout(std::string_view what) {
  Emit("TIMEOUT", what);
}

void FrameTrace::Result(uint8_t serviceId, int32_t code) {
  char details[48];
  std::snprintf(details, sizeof details, "%d service %02X", static_cast<int>(code), serviceId);
  Emit("RESULT", details);
}

void FrameTrace::AdapterSent(std::string_view text) {
  Emit("ELM-TX", text);
}

void FrameTrace::AdapterReceived(std::string_view text) {
  Emit("ELM-RX", text);
}

void FrameTrace::Comment(std::string_view text) {
  // A comment stays one line whatever it was given.
  std::string clean(text);
  for (char& c : clean)
    if (c == '\n' || c == '\r') c = ' ';
  Emit("#", clean);
}

}  // namespace kvd
