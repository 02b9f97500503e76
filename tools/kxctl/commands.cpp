#include "kxctl/commands.h"

#include "core/device/regmap.h"
#include "core/modbus/codec.h"
#include "kxctl/device_facts.h"
#include "kxctl/device_job.h"
#include "kxctl/flash_job.h"
#include "core/exchange/requests.h"
#include "kxctl/requests.h"
#include "kxctl/scan_job.h"
#include "kxctl/stats_job.h"
#include "kxctl/text_table.h"
#include "kxctl/record_job.h"
#include "kxctl/restore_job.h"
#include "kxctl/transfer_job.h"

namespace kxctl {
namespace {

class ReadJob final : public DeviceJob {
 public:
  ReadJob(Line& line, ReadArgs args) : DeviceJob(line, args.address), args_(args) {
    Then(kx::ReadRequest(line.format(), static_cast<std::uint8_t>(args.address), args.reg, static_cast<std::uint16_t>(args.count)),
         AddressContext(args.address), [this](const kx::Answer& a) {
           values_ = a.Words();
           if (values_.size() != static_cast<std::size_t>(args_.count))
             Fail(AddressContext(args_.address) + ": " + std::string(kx::Text(kx::Msg::ReceivedChecksumError)));
         });
  }

 private:
  void Report(Json& doc, std::string& table) const override {
    doc.Set("register", Json::Int(args_.reg));
    Json& values = doc.Set("values", Json::Array());
    std::vector<std::vector<std::string>> rows{{"REGISTER", "VALUE", "HEX", "SIGNED"}};
    for (std::size_t i = 0; i < values_.size(); ++i) {
      const std::uint16_t v = values_[i];
      values.Push(Json::Int(v));
      rows.push_back({Hex4(static_cast<std::uint16_t>(args_.reg + i)), std::to_string(v), Hex4(v),
                      std::to_string(v > 0x7FFF ? static_cast<int>(v) - 0x10000 : v)});
    }
    table = Table(rows);
  }

  ReadArgs args_;
  std::vector<std::uint16_t> values_;
};

// ---------------------------------------------------------------------------

// Identifies the controller, sends the unlock write first when the register is
// one the model protects (as the monitor does), then the write; each echo is
// compared with its request.
class WriteJob final : public DeviceJob {
 public:
  WriteJob(Line& line, WriteArgs args) : DeviceJob(line, args.address), args_(args) {
    Learn(FactsDepth::Model, UnknownModel::Accepted, [this] { QueueWrites(); });
  }

 private:
  void Report(Json& doc, std::string& table) const override {
    doc.Set("register", Json::Int(args_.reg));
    doc.Set("value", Json::Int(args_.value));
    doc.Set("unlocked", Json::Bool(unlocked_));
    table = AddressContext(args_.address) + ": " + Hex4(args_.reg) + " := " + std::to_string(args_.value) + " (" +
            Hex4(args_.value) + ")" + (unlocked_ ? ", after the unlock write" : "") + ", echo checked\n";
  }

  void QueueWrites() {
    const std::string context = AddressContext(args_.address);
    if (kx::FactoryProtected(facts_.model, args_.reg)) {
      unlocked_ = true;
      Then(kx::WriteRequest(line_.format(), static_cast<std::uint8_t>(args_.address), kx::UnlockRegister(facts_.model), kx::kUnlockValue),
           context + " (unlock write)", [](const kx::Answer&) {});
    }
    Then(kx::WriteRequest(line_.format(), static_cast<std::uint8_t>(args_.address), args_.reg, args_.value), context,
         [](const kx::Answer&) {});
  }

  WriteArgs args_;
  bool unlocked_ = false;
};

// ---------------------------------------------------------------------------

class InfoJob final : public DeviceJob {
 public:
  InfoJob(Line& line, InfoArgs args) : DeviceJob(line, args.address), args_(args) {
    Learn(FactsDepth::Values, UnknownModel::Fails, [] {});
  }

 private:
  void Report(Json& doc, std::string& table) const override {
    const kx::DeviceRecord& r = facts_.rec;
    const std::uint16_t pvStatus = kx::PvStatus(facts_.model, r.pv, r.pvStatusCode);
    doc.Set("model", Json::String(std::string(kx::ModelName(facts_.model))));
    doc.Set("firmware", facts_.firmwareRead ? Json::String(FirmwareText(r.firmwareVersion)) : Json::Null());
    doc.Set("pv", pvStatus != 0 ? Json::Null() : EngineeringJson(r.pv, facts_.decimalPoint));
    doc.Set("sv", EngineeringJson(r.sv, facts_.decimalPoint));
    doc.Set("unit", Json::String(std::string(kx::UnitText(r.statusByte))));
    if (pvStatus != 0) doc.Set("pv_status", Json::String(std::string(kx::PvStatusText(pvStatus))));
    const std::string pvText = pvStatus != 0 ? std::string(kx::PvStatusText(pvStatus)) : EngineeringText(r.pv, facts_.decimalPoint);
    table = Table({{"address", std::to_string(args_.address)},
                   {"model", std::string(kx::ModelName(facts_.model))},
                   {"firmware", facts_.firmwareRead ? FirmwareText(r.firmwareVersion) : "-"},
                   {"pv", pvText},
                   {"sv", EngineeringText(r.sv, facts_.decimalPoint)},
                   {"unit", std::string(kx::UnitText(r.statusByte))}});
  }

  InfoArgs args_;
};

}  // namespace

std::unique_ptr<Job> MakeJob(const CommandArgs& args, const JobContext& context) {
  Line& line = context.line;
  if (const auto* a = std::get_if<ReadArgs>(&args)) return std::make_unique<ReadJob>(line, *a);
  if (const auto* a = std::get_if<WriteArgs>(&args)) return std::make_unique<WriteJob>(line, *a);
  if (const auto* a = std::get_if<InfoArgs>(&args)) return std::make_unique<InfoJob>(line, *a);
  if (const auto* a = std::get_if<ScanArgs>(&args)) return std::make_unique<ScanJob>(line, *a);
  if (const auto* a = std::get_if<BackupArgs>(&args)) return std::make_unique<BackupJob>(line, *a);
  if (const auto* a = std::get_if<RestoreArgs>(&args)) return std::make_unique<RestoreJob>(line, *a);
  if (const auto* a = std::get_if<RecordArgs>(&args)) return std::make_unique<RecordJob>(context, *a);
  if (const auto* a = std::get_if<FlashArgs>(&args)) return std::make_unique<FlashJob>(context, *a);
  if (const auto* a = std::get_if<StatsArgs>(&args)) return std::make_unique<StatsJob>(context, *a);
  return nullptr;
}

std::string FitToTransport(CommandArgs& args, kx::LineTransport transport, const LineFormat& lineFormat,
                           std::vector<std::string>& notes) {
  if (!kx::FormatIsServers(transport)) return {};
  const bool gateway = transport == kx::LineTransport::ModbusTcp;
  if (std::holds_alternative<FlashArgs>(args)) {
    if (gateway)
      return "flash cannot run through a Modbus TCP gateway: the controllers' loader frames are not Modbus. "
             "Reach the line through a transparent TCP server (tcp://), RFC 2217 or a local port.";
    notes.push_back("the line's format is the TCP server's: for the loader it must run at 38400-8N1 "
                    "(a KX3's unlock writes go at the same format, so the KX3 must be set to it too).");
  }
  if (auto* scan = std::get_if<ScanArgs>(&args)) {
    const std::size_t asked = scan->allFormats ? 2 : scan->formats.size();
    const LineFormat at = scan->formats.empty() ? lineFormat : scan->formats.front();
    scan->allFormats = false;
    scan->formats = {at};
    if (asked > 1)
      notes.push_back(gateway ? "the line's format is the gateway's: the scan searches addresses only."
                              : "the line's format is the TCP server's: the scan searches addresses only, at " +
                                    kx::ToString(at) + ".");
  }
  return {};
}

}  // namespace kxctl
