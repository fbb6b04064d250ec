// The frame trace: a plain-text log of what went over the K-line, one line per event.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "link/clock.h"

namespace kvd {

// Lines of the trace, each "<ms since start> <EVENT> <details>", for example
//
//        0 # kvd-cli frame trace; times in ms since the trace began
//      350 BREAK on
//      375 BREAK off
//      400 TX 81 10 F1 81 03
//      436 RX 83 F1 10 C1 EF 8F C4
//      436 RESULT 0 service 81
//     1812 TIMEOUT response
//     1812 RESULT -1 service 21
//
// Events: TX (a frame written), RX (the bytes of an answer frame, also a partial one, which is
// followed by its TIMEOUT), ECHO (only when the echo differs from what was sent), NOISE (bytes
// thrown away during the wake-up or the drain after it), BREAK on/off (the fast-init pulse),
// TIMEOUT echo|response|header|body (a byte did not come in time), RESULT (the transaction's
// result code and the service it was for). Every line goes to the sink whole, at once.
//
// Through an ELM327 the adapter's text exchange is traced instead of the line's bytes:
//
//     1402 ELM-TX 2101
//     1466 ELM-RX A4F11061010E...
//     1466 RX A4 F1 10 61 01 0E ...
//     1467 RESULT 0 service 21
//
// ELM-TX (a command line sent, without its CR), ELM-RX (a line of the adapter's answer, the
// echo included), RX (the frame the link took from it), TIMEOUT adapter prompt.
class FrameTrace {
 public:
  // Receives one complete line, ending in '\n'.
  using LineSink = std::function<void(std::string_view line)>;

  // Times are taken from clock and counted from this construction. The first line is a comment
  // naming the program.
  FrameTrace(Clock& clock, LineSink sink, std::string_view program = "kvd-diag");

  // A trace written to a file (created or replaced). Every line is handed to the operating
  // system with one write as soon as it is made, so a program that is killed or crashes leaves
  // every line written up to then complete. Nothing when the file cannot be created; error then
  // holds the reason.
  static std::unique_ptr<FrameTrace> OpenFile(const std::filesystem::path& file, Clock& clock,
                                              std::string_view program, std::string& error);

  void Break(bool on);
  void Sent(std::span<const uint8_t> frame);
  void Echo(std::span<const uint8_t> sent, std::span<const uint8_t> echo);
  void Received(std::span<const uint8_t> bytes);
  void Noise(std::span<const uint8_t> bytes);
  void Timeout(std::string_view what);
  void Result(uint8_t serviceId, int32_t code);
  // A command line sent to an ELM327, and a line of its answer.
  void AdapterSent(std::string_view text);
  void AdapterReceived(std::string_view text);
  // A free comment line ("# text").
  void Comment(std::string_view text);

  // Lines handed to the sink so far.
  uint64_t Lines() const { return lines_; }

 private:
  void Emit(std::string_view event, std::string_view details);

  Clock& clock_;
  LineSink sink_;
  uint64_t startUs_;
  uint64_t lines_ = 0;
};

// "81 10 F1" for the bytes given (upper-case hexadecimal, one space between bytes).
std::string HexBytes(std::span<const uint8_t> bytes);

}  // namespace kvd
