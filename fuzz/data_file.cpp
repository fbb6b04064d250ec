// Fuzz target: the data file reader on the bytes of a file, then every record decoded by the
// parameter catalogue and the text export, and the launcher's family check.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <string>

#include "data/data_file.h"
#include "data/measurements.h"
#include "data/parameters.h"
#include "data/text_export.h"
#include "fuzz_port.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One store for the whole run: mapping 32 MiB per input would dominate the time.
  static kvd::VirtualClock clock;
  static kvd::HistoryStore store(clock);
  const std::span<const uint8_t> bytes(data, size);
  const std::filesystem::path name("fuzz.kdd");

  try {
    const int32_t family = kvd::DataFileFamilyOfBytes(bytes, name);
    KVD_FUZZ_CHECK(family >= 0 && family <= 7);
  } catch (const kvd::DataFileError&) {
  }

  kvd::DataFileInfo info;
  try {
    info = kvd::ReadDataFileBytes(bytes, store, name);
  } catch (const kvd::DataFileError& e) {
    KVD_FUZZ_CHECK(std::string(e.what()).find("fuzz.kdd") != std::string::npos);
    return 0;
  }
  KVD_FUZZ_CHECK(size >= 520);
  KVD_FUZZ_CHECK(info.Records == store.RecordCount());
  KVD_FUZZ_CHECK(static_cast<size_t>(info.Records) == (size - 520) / 44);

  // Every parameter of every record, as the panes and floating windows show it.
  const auto& catalogue = kvd::ParameterCatalogue();
  for (int32_t i = 0; i < store.RecordCount(); ++i) {
    const kvd::HistoryRecord* r = store.RecordAt(i);
    KVD_FUZZ_CHECK(r != nullptr);
    for (const kvd::ParameterDescriptor& d : catalogue) {
      const double v = kvd::DecodeValue(d, *r);
      (void)kvd::FormatParameterValue(d, v, 6, ',');
    }
  }
  KVD_FUZZ_CHECK(store.RecordAt(store.RecordCount()) == nullptr);

  // The export of everything: a header line and one line per record.
  const std::string text = kvd::BuildTextExport(store, store.AllRecords());
  size_t lines = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++lines;
  KVD_FUZZ_CHECK(lines == static_cast<size_t>(store.RecordCount()) + 1);

  // The selection the file's marks gave, and the measurements over it.
  if (const auto range = store.SelectedRange()) {
    KVD_FUZZ_CHECK(range->First >= 0 && range->Last() < store.RecordCount());
    (void)kvd::BuildTextExport(store, *range);
  }
  kvd::Measurement m;
  const kvd::MeasureStatus status = kvd::Measure(store, m);
  if (status == kvd::MeasureStatus::kOk) {
    KVD_FUZZ_CHECK(m.First >= 0 && m.Last < store.RecordCount() && m.First <= m.Last);
    (void)kvd::MeasurementText(m, kvd::ElapsedFormatter(), ',');
  } else {
    KVD_FUZZ_CHECK(!kvd::MeasureStatusText(status).empty());
  }
  return 0;
}
