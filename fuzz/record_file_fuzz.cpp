// "*.rec" record files as replay reads them: any bytes give either no file
// (shorter than the header) or a header and exactly the whole records the size
// holds, each reachable through its window, with every value a signed 16-bit
// value or the error marker, and a CSV export that ends.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/recorder/csv_export.h"
#include "core/recorder/record_file.h"

using namespace kx::recorder;

namespace {

const std::string& ScratchPath(const char* suffix) {
  static const std::string base = "/tmp/kx-record-fuzz-" + std::to_string(getpid());
  static std::string rec = base + ".rec";
  static std::string csv = base + ".csv";
  static const bool cleanup = std::atexit([] {
    std::remove(rec.c_str());
    std::remove(csv.c_str());
  }) == 0;
  (void)cleanup;
  return suffix[0] == 'r' ? rec : csv;
}

void CheckRecord(const Record& record) {
  for (std::int32_t v : record.values) {
    if (v != kErrorMarker && (v < -32768 || v > 32767)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = ScratchPath("rec");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  RecordFile file;
  const bool opened = file.Open(path);
  if (opened != (size >= kHeaderSize)) std::abort();
  if (opened) {
    if (file.count() != RecordCount(size)) std::abort();
    if (file.count() > 0) {
      // The first, a middle and the last record, each through its window.
      for (std::uint64_t k : {std::uint64_t{0}, file.count() / 2, file.count() - 1}) {
        if (!file.Ensure(k) || !file.InWindow(k)) std::abort();
        CheckRecord(file.At(k));
        (void)CsvRow(file.header(), k, file.At(k));
      }
    }
    if (file.Ensure(file.count())) std::abort();  // past the end
    (void)CsvHeading(file.header());
    (void)ExportCsv(path, ScratchPath("csv"));
  }
  std::remove(ScratchPath("csv").c_str());
  return 0;
}
