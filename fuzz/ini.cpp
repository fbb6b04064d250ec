// Fuzz target: the ini reader on the text of "kvddiag.ini".
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <string_view>

#include "fuzz_port.h"
#include "session/poll_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const kvd::PollSettings s = kvd::ParsePollSettings(text);
  KVD_FUZZ_CHECK(s.IntervalMs >= 0 && s.IntervalMs <= kvd::kMaxPollIntervalMs);
  // Any section and key the text names itself, as a reader of other values would ask.
  if (size > 2) {
    const size_t cut = data[0] % size;
    const std::string_view section = text.substr(1, cut / 2);
    const std::string_view key = text.substr(1 + cut / 2, cut - cut / 2);
    (void)kvd::IniInteger(text, section, key);
  }
  return 0;
}
