// The far end of the line as the fuzz targets play it: every byte written comes back as the
// echo, then the ECU's bytes are the fuzzer's input, byte by byte, on the virtual clock.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <span>
#include <string>

#include "link/clock.h"
#include "link/serial_port.h"

namespace kvd::fuzz {

// Takes bytes off the front of the fuzzer's input; an exhausted input gives zeros.
class InputReader {
 public:
  explicit InputReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint8_t Byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
  std::span<const uint8_t> Rest() const { return bytes_.subspan(pos_); }
  bool Empty() const { return pos_ >= bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// A port whose answers come from a byte stream. Nothing waits in real time: a read that
// finds nothing advances the virtual clock by its time-out and fails.
class StreamPort final : public SerialPort {
 public:
  StreamPort(VirtualClock& clock, std::span<const uint8_t> stream)
      : clock_(clock), stream_(stream) {}

  int32_t OpenPort(uint16_t) override {
    open_ = true;
    return kPortOk;
  }
  int32_t OpenDevice(const std::string&) override {
    open_ = true;
    return kPortOk;
  }
  bool IsOpen() const override { return open_; }
  std::string DeviceName() const override { return "fuzz"; }
  int32_t SetLineParameters(uint32_t, uint8_t, uint8_t, uint8_t) override { return kPortOk; }
  bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) override {
    timeouts_ = SerialTimeouts{interval, multiplier, constant, 100, 100};
    return true;
  }
  bool GetTimeouts(SerialTimeouts& out) override {
    out = timeouts_;
    return true;
  }
  bool SetBreak(bool) override { return true; }
  bool SetModemLines(bool, bool) override { return true; }
  // The ECU's bytes are not dropped by a purge: the fuzzer decides what arrives when.
  bool PurgePort() override {
    echo_.clear();
    return true;
  }
  // An ELM327's side instead of the line: no echo, and ReadBytes hands over the stream as the
  // adapter's text, each read ending after a prompt ('>') as the adapter then falls silent.
  bool adapterText = false;

  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override {
    if (count == 0 || bytes == nullptr) return -1;
    ++writes_;
    if (!adapterText) echo_.insert(echo_.end(), bytes, bytes + count);
    return 0;
  }
  int32_t ReadByte() override {
    if (!echo_.empty()) {
      const uint8_t b = echo_.front();
      echo_.pop_front();
      return b;
    }
    if (pos_ < stream_.size()) return stream_[pos_++];
    TimeOut(1);
    return -1;
  }
  // Used by the wake-up and the drains: the line stays quiet, the stream is kept for the
  // reads of the answer.
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override {
    if (adapterText && pos_ < stream_.size() && buffer != nullptr) {
      uint32_t n = 0;
      while (n < count && pos_ < stream_.size()) {
        buffer[n] = stream_[pos_++];
        if (buffer[n++] == '>') break;
      }
      clock_.AdvanceMs(1);
      return static_cast<int32_t>(n);
    }
    TimeOut(count);
    return -1;
  }
  void ClosePort() override { open_ = false; }

  size_t Writes() const { return writes_; }
  bool Exhausted() const { return pos_ >= stream_.size(); }

 private:
  void TimeOut(uint32_t count) {
    clock_.AdvanceMs(timeouts_.ReadTotalTimeoutMultiplier * count +
                     timeouts_.ReadTotalTimeoutConstant);
  }

  VirtualClock& clock_;
  std::span<const uint8_t> stream_;
  size_t pos_ = 0;
  std::deque<uint8_t> echo_;
  SerialTimeouts timeouts_{0, 5, 100, 100, 100};
  bool open_ = false;
  size_t writes_ = 0;
};

// A broken promise of the code under test: stops the run so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  __builtin_printf("invariant broken: %s\n", what);
  std::abort();
}
#define KVD_FUZZ_CHECK(cond)               \
  do {                                     \
    if (!(cond)) ::kvd::fuzz::Fail(#cond); \
  } while (0)

}  // namespace kvd::fuzz
