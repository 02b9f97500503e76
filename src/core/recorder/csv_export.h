// Export of a record file to CSV for spreadsheets: a heading row, then one row
// per record with the time of day (ISO 8601 extended local time, hh:mm:ss; the
// record file holds no date), the seconds since the start of the recording
// (record number times the sampling time; whole seconds, or one decimal at
// 0.5 s, so rows of the same second stay apart) and one column per addressed
// slot with the value in degrees (one decimal), empty where the device had
// failed.
#pragma once

#include <cstdint>
#include <string>

#include "core/recorder/record_file.h"

namespace kx::recorder {

struct CsvExportResult {
  bool ok = false;
  std::uint64_t rows = 0;
  std::string error;  // why the export failed
};

// The heading row and the row of record k (without line end).
std::string CsvHeading(const RecordHeader& header);
std::string CsvRow(const RecordHeader& header, std::uint64_t k, const Record& record);

// Seconds from the first record to record k at the header's sampling time.
std::string ElapsedText(const RecordHeader& header, std::uint64_t k);

// Reads `recordPath` window by window and writes `csvPath` through a temporary
// file beside it, renamed over `csvPath` only when everything was written.
CsvExportResult ExportCsv(const std::string& recordPath, const std::string& csvPath);

}  // namespace kx::recorder
