// KWP2000 (ISO 14230) frame transaction over the K-line.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>

#include "link/clock.h"
#include "link/ecu_link.h"
#include "link/serial_port.h"

namespace kvd {

// The KKL link: the PC itself makes the wake-up, the frames, the checksum and reads back the
// echo, over a "dumb" K-line cable. Keeps the buffers of the last frame sent and received.
class KwpLink final : public EcuLink {
 public:
  KwpLink(SerialPort& port, Clock& clock) : EcuLink(port, clock) {}

  // One request, one answer. headerMode 0 chooses the form (2 below 64 bytes, 4 from
  // 64 on); delayMs is slept after the purge before each sending.
  int32_t KwpTransaction(const KwpRequest& request, int32_t headerMode = 0,
                         int32_t delayMs = 0) override;
  // 10400 baud, 8N1; read time-outs interval 0, multiplier 5 ms, constant 100 ms.
  void SetSessionLine() override;

  // Builds the frame of a request into out (header, message, checksum); returns its
  // length, or 0 for a header mode outside 1..4. Mode 0 chooses automatically.
  static size_t BuildFrame(const KwpRequest& request, int32_t headerMode, uint8_t target,
                           uint8_t* out);

  // The WaitHook runs after the delay before sending, the idle time of the wake-up, every echo
  // and answer byte. The break, the idle time after it, the frame and the drain after the
  // wake-up's echo are never interrupted, so the wake-up keeps its timing.

  std::array<uint8_t, 264> RequestFrame{};
  size_t RequestFrameLength = 0;
  std::array<uint8_t, 264> ResponseFrame{};

 private:
  int32_t Transact(const KwpRequest& request, int32_t headerMode, int32_t delayMs);
  // A timing read of the wake-up: whatever arrives is thrown away (and traced).
  void DiscardRead(uint8_t* scratch);
};

}  // namespace kvd
