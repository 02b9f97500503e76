#include "core/recorder/csv_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kx::recorder {

std::string CsvHeading(const RecordHeader& header) {
  std::string row = "Time,Elapsed (s)";
  for (int i = 0; i < kSlots; ++i) {
    const int address = header.addresses[static_cast<std::size_t>(i)];
    if (address == 0) continue;
    row += ",Device " + std::to_string(i + 1) + " (address " + std::to_string(address) + ")";
  }
  return row;
}

std::string ElapsedText(const RecordHeader& header, std::uint64_t k) {
  const std::uint64_t ms = k * static_cast<std::uint64_t>(SampleIntervalMs(header.sampleTime));
  std::string text = std::to_string(ms / 1000);
  if (header.sampleTime == 0) text += "." + std::to_string(ms % 1000 / 100);
  return text;
}

std::string CsvRow(const RecordHeader& header, std::uint64_t k, const Record& record) {
  char time[16];
  std::snprintf(time, sizeof time, "%02u:%02u:%02u", unsigned{record.time.hour},
                unsigned{record.time.minute}, unsigned{record.time.second});
  std::string row = time;
  row += ',' + ElapsedText(header, k);
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (header.addresses[i] == 0) continue;
    row += ',';
    if (record.values[i] != kErrorMarker) row += TenthsText(record.values[i]);
  }
  return row;
}

namespace {

// "Cannot read <path>", with the system's reason when there is one.
std::string ReadFailure(const std::string& recordPath, const RecordFile& file) {
  std::string text = "Cannot read " + recordPath;
  if (!file.error().empty()) text += ": " + file.error();
  return text;
}

}  // namespace

CsvExportResult ExportCsv(const std::string& recordPath, const std::string& csvPath) {
  CsvExportResult result;
  RecordFile file;
  if (!file.Open(recordPath)) {
    result.error = ReadFailure(recordPath, file);
    return result;
  }
  const std::string temp = csvPath + ".part";
  std::error_code ec;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      result.error = "Cannot create " + temp + ": " + std::strerror(errno);
      return result;
    }
    out << CsvHeading(file.header()) << "\r\n";
    for (std::uint64_t k = 0; k < file.count(); ++k) {
      if (!file.Ensure(k)) {
        out.close();
        std::filesystem::remove(temp, ec);
        result.error = ReadFailure(recordPath, file);
        return result;
      }
      out << CsvRow(file.header(), k, file.At(k)) << "\r\n";
      ++result.rows;
    }
    out.close();
    if (out.fail()) {
      result.error = "Cannot write " + temp + ": " + std::strerror(errno);
      std::filesystem::remove(temp, ec);
      result.rows = 0;
      return result;
    }
  }
  std::filesystem::rename(temp, csvPath, ec);
  if (ec) {
    result.error = "Cannot replace " + csvPath + ": " + ec.message();
    std::filesystem::remove(temp, ec);
    result.rows = 0;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace kx::recorder
