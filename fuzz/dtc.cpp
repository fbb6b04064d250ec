// Fuzz target: the trouble-code list built from a ReadDTCByStatus answer and the error mask,
// and the rows of its grid in the three languages.
// Input: the language, the four bytes of the error mask (most significant first), then the
// answer.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>

#include "ecu/dtc.h"
#include "fuzz_port.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvd::fuzz::InputReader in({data, size});
  const auto language = static_cast<kvd::DtcLanguage>(in.Byte() % 4 - 1);
  uint32_t mask = 0;
  for (int i = 0; i < 4; ++i) mask = mask << 8 | in.Byte();
  const std::span<const uint8_t> answer = in.Rest();

  const kvd::DtcList list = kvd::BuildDtcList(answer, mask);
  const size_t count = kvd::DtcCount(list);
  // Never more codes than the answer holds whole groups for, nor than its count byte says.
  const size_t groups = answer.size() >= 2 ? (answer.size() - 2) / 3 : 0;
  KVD_FUZZ_CHECK(count <= groups);
  if (answer.size() >= 2) KVD_FUZZ_CHECK(count <= answer[1]);
  KVD_FUZZ_CHECK(list[kvd::kDtcListSize - 1].Code == 0 || count == 0);
  for (size_t k = 0; k < count; ++k) {
    KVD_FUZZ_CHECK(list[k].Stored == 1);
    KVD_FUZZ_CHECK(list[k].Current <= 1);
  }
  const auto rows = kvd::DtcGridRows(list, language);
  KVD_FUZZ_CHECK(rows.size() == count + 1);
  return 0;
}
