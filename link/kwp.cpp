// SPDX-License-Identifier: GPL-3.0-or-later
// KWP2000 frames on the K-line: building, sending with echo read-back, receiving and judging
// the answer, and the fast-init wake-up.
#include "link/kwp.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "link/frame_trace.h"

namespace kvd {

namespace {

constexpr uint8_t kStartCommunication = 0x81;
constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kBusyRepeatRequest = 0x21;
constexpr uint8_t kBusy77 = 0x77;
constexpr uint8_t kResponsePending = 0x78;
// Busy and pending answers absorbed per transaction before the next negative answer ends it.
constexpr int kMaxAbsorbed = 5;

// Read time-outs of a normal session, used when the port cannot tell us its own.
constexpr uint32_t kSessionInterval = 0;
constexpr uint32_t kSessionMultiplier = 5;
constexpr uint32_t kSessionConstant = 100;

// Fast-init pattern: idle line, break (low), idle again; then a short drain after the echo.
constexpr uint32_t kWakeIdleMs = 350;
constexpr uint32_t kWakeLowMs = 25;
constexpr uint32_t kWakeHighMs = 25;
// The high phase is read with the time-out the low phase set.
static_assert(kWakeHighMs == kWakeLowMs);
constexpr uint32_t kDrainMs = 1;
constexpr uint32_t kTimingReadCount = 256;

uint8_t ByteSum(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

}  // namespace

KwpRequest::KwpRequest(std::initializer_list<uint8_t> message)
    : KwpRequest(std::span<const uint8_t>(message.begin(), message.size())) {}

KwpRequest::KwpRequest(std::span<const uint8_t> message) {
  // A message longer than a length byte can say is cut to 255 bytes.
  const size_t n = std::min(message.size(), Message.size());
  if (n > 0) std::memcpy(Message.data(), message.data(), n);
  Length = static_cast<uint8_t>(n);
}

KwpRequest KwpRequest::FromPrefixed(const uint8_t* bytes) {
  KwpRequest request;
  if (bytes == nullptr) return request;
  request.Length = bytes[0];
  if (request.Length > 0) std::memcpy(request.Message.data(), bytes + 1, request.Length);
  return request;
}

size_t KwpLink::BuildFrame(const KwpRequest& request, int32_t headerMode, uint8_t target,
                           uint8_t* out) {
  const uint8_t n = request.Length;
  if (n == 0 || out == nullptr) return 0;
  const int32_t mode = headerMode != 0 ? headerMode : (n < 64 ? 2 : 4);
  size_t pos = 0;
  switch (mode) {
    case 1:
      // The length lives in the low six bits of the format byte; a longer message cannot be
      // told in this form, and masking it would announce a wrong length to the ECU.
      if (n > 0x3F) return 0;
      out[pos++] = n;
      break;
    case 2:
      if (n > 0x3F) return 0;
      out[pos++] = static_cast<uint8_t>(0x80 | n);
      out[pos++] = target;
      out[pos++] = kTesterAddress;
      break;
    case 3:
      out[pos++] = 0x00;
      out[pos++] = n;
      break;
    case 4:
      out[pos++] = 0x80;
      out[pos++] = target;
      out[pos++] = kTesterAddress;
      out[pos++] = n;
      break;
    default:
      return 0;
  }
  std::memcpy(out + pos, request.Message.data(), n);
  pos += n;
  out[pos] = ByteSum(out, pos);
  return pos + 1;
}

void KwpLink::SetSessionLine() {
  port_.SetReadTimeouts(kSessionInterval, kSessionMultiplier, kSessionConstant);
  port_.SetLineParameters(10400, 8, 0, 1);
}

int32_t KwpLink::KwpTransaction(const KwpRequest& request, int32_t headerMode, int32_t delayMs) {
  const int32_t result = Transact(request, headerMode, delayMs);
  if (trace_) trace_->Result(request.ServiceId(), result);
  return result;
}

void KwpLink::DiscardRead(uint8_t* scratch) {
  const int32_t n = port_.ReadBytes(kTimingReadCount, scratch);
  if (trace_ && n > 0) trace_->Noise(std::span<const uint8_t>(scratch, static_cast<size_t>(n)));
}

int32_t KwpLink::Transact(const KwpRequest& requestIn, int32_t headerMode, int32_t delayMs) {
  const KwpRequest request = requestIn;
  const uint8_t serviceId = request.ServiceId();
  const bool fastInit = request.Length == 1 && serviceId == kStartCommunication;
  int repeatCount = 0;
  uint8_t scratch[kTimingReadCount];

  for (;;) {
    // Send point.
    port_.PurgePort();
    if (delayMs > 0) clock_.Sleep(static_cast<uint32_t>(delayMs));
    if (!KeepWaiting()) return kKwpCancelled;

    if (headerMode < 0 || headerMode > 4) return kKwpBadHeaderMode;
    // BuildFrame writes nothing when it fails, so the last frame sent stays as it was.
    const size_t frameLength = BuildFrame(request, headerMode, TargetAddress, RequestFrame.data());
    // An empty request, or one too long for the header form the caller insists on, cannot be
    // framed: nothing is sent.
    if (frameLength == 0) return kKwpBadHeaderMode;
    RequestFrameLength = frameLength;

    SerialTimeouts saved;
    if (fastInit) {
      if (!port_.GetTimeouts(saved)) {
        // Restoring made-up values could leave the port waiting forever; fall back to the
        // time-outs of a normal session.
        saved.ReadIntervalTimeout = kSessionInterval;
        saved.ReadTotalTimeoutMultiplier = kSessionMultiplier;
        saved.ReadTotalTimeoutConstant = kSessionConstant;
      }
      port_.SetReadTimeouts(0, 0, kWakeIdleMs);
      port_.PurgePort();
      DiscardRead(scratch);
      if (!KeepWaiting()) {
        port_.SetReadTimeouts(saved.ReadIntervalTimeout, saved.ReadTotalTimeoutMultiplier,
                              saved.ReadTotalTimeoutConstant);
        return kKwpCancelled;
      }
      port_.SetReadTimeouts(0, 0, kWakeLowMs);
      port_.PurgePort();
      if (trace_) trace_->Break(true);
      port_.SetBreak(true);
      DiscardRead(scratch);
      port_.SetBreak(false);
      if (trace_) trace_->Break(false);
      DiscardRead(scratch);
    }
    const auto restoreTimeouts = [&] {
      port_.SetReadTimeouts(saved.ReadIntervalTimeout, saved.ReadTotalTimeoutMultiplier,
                            saved.ReadTotalTimeoutConstant);
    };

    port_.WriteBytes(static_cast<uint32_t>(RequestFrameLength), RequestFrame.data());
    const std::span<const uint8_t> sent(RequestFrame.data(), RequestFrameLength);
    if (trace_) trace_->Sent(sent);

    // The echo of every byte sent; its values are not compared (only the trace shows them).
    std::array<uint8_t, 264> echo;
    for (size_t i = 0; i < RequestFrameLength; ++i) {
      const int32_t b = port_.ReadByte();
      if (b < 0) {
        if (trace_) {
          trace_->Timeout("echo (" + std::to_string(i) + " of " +
                          std::to_string(RequestFrameLength) + " bytes came back)");
        }
        // Leave the port with the caller's time-outs even when the wake-up found no adapter.
        if (fastInit) restoreTimeouts();
        return kKwpEchoMissing;
      }
      echo[i] = static_cast<uint8_t>(b);
      // After a wake-up the drain must follow the echo at once.
      if (!fastInit && !KeepWaiting()) return kKwpCancelled;
    }
    if (trace_) trace_->Echo(sent, std::span<const uint8_t>(echo.data(), RequestFrameLength));
    if (fastInit) {
      port_.SetReadTimeouts(0, 0, kDrainMs);
      DiscardRead(scratch);
      restoreTimeouts();
      if (!KeepWaiting()) return kKwpCancelled;
    }

    // One byte of the answer; kKwpCancelled in `stop` when the hook ends the wait after it.
    int32_t stop = 0;
    const auto readAnswerByte = [&]() -> int32_t {
      const int32_t b = port_.ReadByte();
      if (b >= 0 && !KeepWaiting()) stop = kKwpCancelled;
      return b;
    };

    bool resend = false;
    // What was received of a frame that stopped short, then the time-out, for the trace.
    const auto cut = [this](size_t received, const char* what) {
      if (!trace_) return;
      trace_->Received(std::span<const uint8_t>(ResponseFrame.data(), received));
      trace_->Timeout(what);
    };
    while (!resend) {
      // Receive point.
      const int32_t first = readAnswerByte();
      if (first < 0) {
        cut(0, "response");
        return kKwpNoResponse;
      }
      if (stop != 0) return stop;
      ResponseFrame[0] = static_cast<uint8_t>(first);
      ResponseDataLength = 0;

      size_t received = 1;
      size_t messageLength = 0;
      size_t messageStart = 0;
      const uint8_t format = ResponseFrame[0];
      if (format == 0x00) {
        const int32_t length = readAnswerByte();
        if (length < 0) {
          cut(received, "header");
          return kKwpHeader00Short;
        }
        if (stop != 0) return stop;
        ResponseFrame[received++] = static_cast<uint8_t>(length);
        messageLength = static_cast<uint8_t>(length);
        messageStart = 2;
      } else if (format <= 0x3F) {
        messageLength = format;
        messageStart = 1;
      } else if (format == 0x80) {
        for (int i = 0; i < 3; ++i) {
          const int32_t b = readAnswerByte();
          if (b < 0) {
            cut(received, "header");
            return kKwpHeader80Short;
          }
          if (stop != 0) return stop;
          ResponseFrame[received++] = static_cast<uint8_t>(b);
        }
        messageLength = ResponseFrame[3];
        messageStart = 4;
      } else {
        // Address bytes follow the format byte as part of the rest of the frame.
        messageLength = format & 0x3F;
        messageStart = 3;
      }
      ResponseDataLength = static_cast<int32_t>(messageLength);

      const size_t total = messageStart + messageLength + 1;
      // Cannot trigger with one-byte lengths (at most 4 + 255 + 1), kept as the buffer's guard.
      if (total > ResponseFrame.size()) return kKwpBodyShort;
      while (received < total) {
        const int32_t b = readAnswerByte();
        if (b < 0) {
          cut(received, "body");
          return kKwpBodyShort;
        }
        if (stop != 0) return stop;
        ResponseFrame[received++] = static_cast<uint8_t>(b);
      }
      if (trace_) trace_->Received(std::span<const uint8_t>(ResponseFrame.data(), total));

      if (ByteSum(ResponseFrame.data(), total - 1) != ResponseFrame[total - 1]) {
        return kKwpBadChecksum;
      }

      // Accept the message. Bytes after it are cleared so that nobody judges a short answer
      // by what the previous one left behind.
      std::memcpy(ResponseBuffer.data(), ResponseFrame.data() + messageStart, messageLength);
      std::fill(ResponseBuffer.begin() + static_cast<std::ptrdiff_t>(messageLength),
                ResponseBuffer.end(), uint8_t{0});

      // An empty message answers nothing.
      if (messageLength == 0) return kKwpUnexpected;

      if (ResponseBuffer[0] == kNegativeResponse) {
        const uint8_t code = ResponseBuffer[1] == serviceId ? ResponseBuffer[2] : ResponseBuffer[1];
        if (repeatCount >= kMaxAbsorbed) return kKwpTooManyBusy;
        if (code == kBusyRepeatRequest || code == kBusy77) {
          ++repeatCount;
          resend = true;  // back to the send point: purge, delay, wake-up if any, send again
        } else if (code == kResponsePending) {
          ++repeatCount;  // wait for the real answer without sending
        } else {
          return kKwpNegative;
        }
        continue;
      }
      return ResponseBuffer[0] == static_cast<uint8_t>(serviceId ^ 0x40) ? kKwpPositive
                                                                         : kKwpUnexpected;
    }
  }
}

}  // namespace kvd
