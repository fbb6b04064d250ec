// SPDX-License-Identifier: GPL-3.0-or-later
// What every link does the same way: the retrying wrappers over its transaction.
#include "link/ecu_link.h"

namespace kvd {

namespace {

constexpr int32_t kRetryAttempts = 5;
constexpr int32_t kRetryLastDelayMs = 150;
constexpr int32_t kIoDelayMs = 50;

// Up to five transactions with earlyDelayMs before attempts 1..4 and 150 ms before the fifth,
// stopping at the first positive answer; the last result counts.
int32_t RepeatTransaction(EcuLink& link, const KwpRequest& request, int32_t earlyDelayMs) {
  int32_t result = kKwpNoResponse;
  for (int32_t attempt = 1; attempt <= kRetryAttempts; ++attempt) {
    result = link.KwpTransaction(request, 0,
                                 attempt < kRetryAttempts ? earlyDelayMs : kRetryLastDelayMs);
    // A cancelled wait is the caller's decision, and a request the adapter cannot carry stays
    // one it cannot carry: neither is worth repeating.
    if (result == kKwpPositive || result == kKwpCancelled || result == kKwpTooLong ||
        result == kKwpAdapterUnfit)
      break;
  }
  return result;
}

}  // namespace

int32_t EcuLink::KwpRetry(const KwpRequest& request) {
  return RepeatTransaction(*this, request, 0);
}

int32_t EcuLink::IoControl(std::initializer_list<uint8_t> message) {
  return RepeatTransaction(*this, KwpRequest(message), kIoDelayMs);
}

int32_t EcuLink::IoReportCurrentState(uint8_t id) {
  return IoControl({0x30, id, 0x01});
}

int32_t EcuLink::IoReturnControlToEcu(uint8_t id) {
  return IoControl({0x30, id, 0x00});
}

int32_t EcuLink::IoShortTermAdjustment(uint8_t id, uint8_t value) {
  return IoControl({0x30, id, 0x07, value});
}

int32_t EcuLink::IoExecuteControlOption(uint8_t id, uint8_t value) {
  return IoControl({0x30, id, 0x06, value});
}

}  // namespace kvd
