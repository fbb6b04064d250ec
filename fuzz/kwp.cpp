// Fuzz target: the frame transaction fed ECU answer bytes, the echo served; or, through an
// ELM327, the adapter's text in place of the line's bytes.
// Input: request choice (bit 7: through an ELM327, which is first set up with a
// StartCommunication), option bits, then the bytes that come back from the ECU or the adapter.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <cstdint>
#include <vector>

#include "fuzz_port.h"
#include "link/elm_link.h"
#include "link/kwp.h"

namespace {

using kvd::KwpRequest;

// The requests the program sends, and one long enough for the four-byte header.
const std::array<std::vector<uint8_t>, 17>& Requests() {
  static const std::array<std::vector<uint8_t>, 17> kRequests = {{
      {0x81},
      {0x10, 0x81, 0x0A},
      {0x3E, 0x01},
      {0x21, 0x01},
      {0x21, 0x03},
      {0x21, 0xA0},
      {0x21, 0xA1},
      {0x18, 0x00, 0x00, 0x00},
      {0x14, 0x00, 0x00},
      {0x1A, 0x90},
      {0x23, 0x00, 0xFD, 0x40, 0x40},
      {0x30, 0x41, 0x01},
      {0x3B, 0x90, 'X', 'T', 'A', '2', '1', '1', '2', '3', '0', '1', '2', '3', '4', '5', '6', '7',
       '8'},
      {0x11, 0x01},
      {0x20},
      {0x82},
      std::vector<uint8_t>(64, 0x3B),
  }};
  return kRequests;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvd::fuzz::InputReader in({data, size});
  const auto& requests = Requests();
  const uint8_t choice = in.Byte();
  const bool elm = (choice & 0x80) != 0;
  const KwpRequest request(requests[(choice & 0x7F) % requests.size()]);
  const uint8_t options = in.Byte();
  const int32_t headerMode = options & 0x07;  // 5..7 are refused
  const bool retry = (options & 0x08) != 0;
  const bool ioWrapper = (options & 0x10) != 0;

  kvd::VirtualClock clock;
  kvd::fuzz::StreamPort port(clock, in.Rest());
  port.adapterText = elm;
  kvd::KwpLink kkl(port, clock);
  kvd::ElmLink adapter(port, clock);
  kvd::EcuLink& link = elm ? static_cast<kvd::EcuLink&>(adapter) : kkl;
  link.TargetAddress = 0x10;
  if (elm) {
    const int32_t started = link.KwpTransaction(KwpRequest{0x81});
    KVD_FUZZ_CHECK(started >= -10 && started <= 4 && started != -4);
    KVD_FUZZ_CHECK((started == kvd::kKwpAdapterUnfit) == !adapter.Refusal().empty());
  }

  int32_t result;
  if (ioWrapper)
    result = link.IoShortTermAdjustment(0x41, options);
  else if (retry)
    result = link.KwpRetry(request);
  else
    result = link.KwpTransaction(request, headerMode, options >> 5);

  // Through an ELM327 also kKwpTooLong (a request of more than 8 bytes) and kKwpAdapterUnfit.
  KVD_FUZZ_CHECK(result >= (elm ? -10 : -7) && result <= 4 && result != -4);
  KVD_FUZZ_CHECK(link.ResponseDataLength >= 0 && link.ResponseDataLength <= 255);
  KVD_FUZZ_CHECK(kkl.RequestFrameLength <= kkl.RequestFrame.size());
  // (A header mode outside 0..4 is refused first, as on the K-line.)
  if (elm && !ioWrapper && headerMode <= 4 && request.Length > kvd::kElmMaxRequestLength &&
      request.ServiceId() != 0x81)
    KVD_FUZZ_CHECK(result == kvd::kKwpTooLong);
  if (result == kvd::kKwpPositive) {
    const uint8_t sid = ioWrapper ? 0x30 : request.ServiceId();
    KVD_FUZZ_CHECK(link.ResponseBuffer[0] == (sid ^ 0x40));
    KVD_FUZZ_CHECK(link.ResponseDataLength >= 1);
  }
  if (result == kvd::kKwpNegative || result == kvd::kKwpTooManyBusy)
    KVD_FUZZ_CHECK(link.ResponseBuffer[0] == 0x7F);
  return 0;
}
