#include "core/text/messages.h"

#include <array>
#include <utility>

namespace kx {

namespace {

struct Entry {
  Msg id;
  std::string_view text;
};

// One row per entry, in the order of the enum (checked at compile time below).
constexpr std::array<Entry, kMsgCount> kCatalogue{{
    {Msg::ReceivedDataTimeout, "Received Data Timeout !"},
    {Msg::ComPortInUse, "COM Port In Use !!!"},
    {Msg::CaptionWordCount, "WORD COUNT"},
    {Msg::CaptionWriteData, "WRITE DATA"},
    {Msg::CaptionBitCount, "BIT COUNT"},
    {Msg::CaptionContent, "CONTENT"},
    {Msg::CaptionData, "DATA"},
    {Msg::Repeat, "Repeat"},
    {Msg::Stop, "Stop"},

    {Msg::ReadyToUpdateKx3, "READY TO UPDATE KX3 FIRMWARE"},
    {Msg::WaitForKx3Reinitial, "PLEASE WAIT A FEW SECOND FOR KX3 RE-INITIAL"},
    {Msg::EnjoyNewFirmware, "YOU CAN ENJOY THE NEW FIRMWARE NOW"},
    {Msg::UpdateSucceeded, "UPDATE SUCESSED"},
    {Msg::RepowerToEnableFirmware, "RE-POWER ON TO ENABLE NEW FIRMWARE"},
    {Msg::ConnectKx3eAndRepower, "CONNECT KX3E AND RE-POWER ON TO ENABLE AUTO SYNC."},
    {Msg::AutoSyncSuccess, "COMMUNICATION AUTO SYNCHRONIZE SUCCESS"},
    {Msg::ChangingProtocol, "CHANGING THE PROTOCOL..."},
    {Msg::PleaseWait, "PLEASE WAIT FOR A WHILE."},

    {Msg::NoComPortExist, "No COM Port Exist"},
    {Msg::PressSetToChangeProtocol, "Press SET to change KX3 protocol"},
    {Msg::DataCannotSave, "Data can not save !!! Disc full or protected."},
    {Msg::PressStartToDetect, "Pressed Start to begin detect"},
    {Msg::HeadingAddress, " Address"},
    {Msg::HeadingProtocol, " Communicate Protocol"},
    {Msg::Start, "START"},
    {Msg::SearchCancel, "CANCEL"},
    {Msg::EstimateTimeLeft, "Estimate time left : "},
    {Msg::MinutesSuffix, " min,"},
    {Msg::SecondsSuffix, " sec"},
    {Msg::SearchCompletedFound, "Search Completed,Found "},
    {Msg::SearchAbortFound, "Search abort,Found "},
    {Msg::SearchLineLostFound, "Line lost,Found "},
    {Msg::ItemsSuffix, " items"},
    {Msg::ChangeDataError, "Data error,Fail to changed"},
    {Msg::ChangeTimeoutError, "Timeout error,Fail to changed"},
    {Msg::ProtocolChanging, "KX3 Protocol Changing"},
    {Msg::ProtocolChangeSuccess, "SET KX3 Protocol Success"},

    {Msg::AddressNotCorrect, "Address not correct"},
    {Msg::WriteErrorPrefix, "Write error : "},
    {Msg::ReadErrorPrefix, " Read error : "},
    {Msg::IllegalFunction, "illegal function !!!"},
    {Msg::IllegalAddress, "illegal address  !!!"},
    {Msg::IllegalData, "illegal data     !!!"},
    {Msg::IllegalCommand, "illegal command  !!!"},
    {Msg::IllegalFrame, "illegal frame    !!!"},
    {Msg::TooFewData, "too few data     !!!"},
    {Msg::TooManyData, "too many data    !!!"},
    {Msg::IllegalAscii, "illegal ASCII    !!!"},
    {Msg::UnknownError, "Unknow Error     !!!"},
    {Msg::UnknownCommand, "Unknow Command   !!!"},
    {Msg::ReceivedChecksumError, "Received checksum error !!!"},
    {Msg::RcvFormatError, "Rcv format error !!!"},
    {Msg::WriteCompareFail, "Writing data compare fail !!!"},
    {Msg::DataTimeOutError, "Received data time out error"},
    {Msg::LineLost, "the line was lost"},
    {Msg::LineEchoWrong, "the line did not echo the request as sent"},

    {Msg::FirmwareVersionPrefix, "F/W Version "},
    {Msg::NotAvailable, "N/A"},
    {Msg::Out1, "Out1"},
    {Msg::Out2, "Out2"},
    {Msg::HeatCool, "Heat/Cool"},
    {Msg::ComWrite, "Com.Write"},
    {Msg::DevicePrefix, "DEVICE "},
    {Msg::Cancel, "Cancel"},
    {Msg::ActiveSuffix, " (ACTIVE)"},
    {Msg::Connect, "Connect"},
    {Msg::Waiting, "Waiting..."},
    {Msg::NoConnect, "No connect"},
    {Msg::InputError, "Input error"},
    {Msg::OverRange, "Over range"},
    {Msg::MemoryFail, "Memory fail"},
    {Msg::IllegalOnWrongModel, "illegal function on wrong modle"},
    {Msg::ConfirmRestoreDefault, "Will restore default setting, continue anyway ?"},
    {Msg::ConfirmClearFactory, "Will clear factory setting, continue anyway ?"},
    {Msg::NoError, "No Error"},

    {Msg::OverWriteFilePrefix, "Over write file : "},
    {Msg::SaveParametersDone, " save parameters to file done"},
    {Msg::ParametersLoaded, " parameters successful load"},
    {Msg::ParametersUploaded, " parameters successful upload into buffer"},
    {Msg::UploadDone, "Upload Done"},
    {Msg::Done, "Done"},
    {Msg::FailToSaveFile, "Fail to save file"},
    {Msg::EnableComWriteFirst, "Please enable COM write function first"},
    {Msg::DifferentModelConfirm,
     "It is different model between buffer and download device, do you really want to process ?"},
    {Msg::ModelNameConfirm, "Model Name Confirm"},
    {Msg::SetAllDevicesConfirm,
     "All device connected to the communication will be set, do you really want to process ?"},

    {Msg::FileOperationError, "Can't perform one of the following file operations: Open, Seek, Read"},
    {Msg::FileErrorCaption, "File Error"},
    {Msg::BufferReadError, "Can't perform one of the following file operations: Read to Buffer"},
    {Msg::BufferErrorCaption, "Buffer Error"},
    {Msg::DataErrorCaption, "Data Error"},
    {Msg::FileLengthOrContentError, "File data length or content error !"},

    {Msg::StartGettingData, "Start to getting data"},
    {Msg::EndOfAcquireData, "End of acquire data"},
    {Msg::ReceivedDataMismatch, " Received data does not match"},
    {Msg::InputUnstable, " Input unstable or Device fail"},
    {Msg::RecordFileError, "Record file error : "},
    {Msg::NothingToExport, "No recording data to export"},
    {Msg::CsvExportDone, "CSV export done : "},
    {Msg::CsvExportFailed, "CSV export failed : "},

    {Msg::StepMax, "Step Max."},
    {Msg::PatternPrefix, "Pattern "},
    {Msg::SetValuePrefix, "Set Value "},
    {Msg::ExecuteTimePrefix, "Execute Time "},
    {Msg::LoopCount, "Loop Count"},
    {Msg::LinkPattern, "Link Pattern"},
    {Msg::ReadingNow, "Reading Now"},
    {Msg::WritingNow, "Writing Now"},
    {Msg::ProgEnd, "Prog End"},
    {Msg::StepCount, "Step Count"},
    {Msg::Hour, "Hour"},

    {Msg::UnknownModel, "UnKnow"},
    {Msg::ProgramChecksumIncorrect, "Program checksum incorrect !"},
    {Msg::EnableFlashFail, "Enable flash function fail"},
    {Msg::OptionByteIncorrect, "Option byte incorrect"},
    {Msg::EraseSectorFail, "Erase sector fail"},
    {Msg::WriteDataFail, "Write data fail"},
    {Msg::MemoryChecksumFail, "Memory checksum fail"},
    {Msg::RxChecksumError, "Rx checksum error"},
    {Msg::ProgramUpdateSucceeded, "Program update successed"},
    {Msg::ReadingOptionByte, "Reading option byte"},
    {Msg::EraseSector, "Erase Sector 1/2"},
    {Msg::VerifyMemoryChecksum, "Verify Memory Checksum"},
    {Msg::WriteDataToRom, "Write Data to ROM ..."},
    {Msg::ComPortPrefix, "COM Port "},
    {Msg::NotExistSuffix, " not exist !"},

    {Msg::ServerSetsFormat, ": the server sets the baud rate, parity, data and stop bits."},
    {Msg::GatewaySetsFormat,
     ": the gateway sets the baud rate, parity, data and stop bits and speaks RTU on its line; "
     "ASCII/RTU does not apply."},
    {Msg::ServerSearchAddresses,
     ": the server's line format is fixed, so only addresses are searched, in the form chosen in PC settings."},
    {Msg::GatewaySearchAddresses, ": the gateway's line format is fixed, so only addresses are searched."},
    {Msg::GatewayForm, "Modbus TCP"},
    {Msg::ServerChangeWarning,
     ": the server keeps its own line format and will not follow the controller's new one. Unless the format "
     "chosen here is the server's, the controller will not answer through it until the server is set the same.\n\n"
     "Change anyway?"},
    {Msg::GatewayChangeWarning,
     ": the gateway keeps its own line format and will not follow the controller's new one. Unless the format "
     "chosen here is the gateway's (RTU), the controller will not answer through it until the gateway is set "
     "the same.\n\nChange anyway?"},
    {Msg::ServerFirmwareFormat,
     ": the server must run at 38400 bit/s, 8 data bits, no parity, 1 stop bit (38400 8N1) for the update."},
    {Msg::GatewayFirmwareRefused,
     ": no firmware update through a Modbus TCP gateway (the loader's frames are not Modbus requests)."},

    {Msg::FilterParameters, "KX parameters backup files (*.par)|*.PAR"},
    {Msg::FilterRecord, "KX record files (*.rec)|*.REC"},
    {Msg::FilterRampSoak, "KX ramp soak table files (*.r$s)|*.R$S"},
    {Msg::FilterFirmware, "Ostra controller firmware files (*.oc)|*.OC"},
    {Msg::FilterCsv, "CSV files (*.csv)|*.CSV"},
    {Msg::FilterTrace, "Line traffic text files (*.txt)|*.TXT"},
}};

constexpr bool InEnumOrder() {
  for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
    if (static_cast<std::size_t>(kCatalogue[i].id) != i || kCatalogue[i].text.empty()) return false;
  }
  return true;
}
static_assert(InEnumOrder(), "catalogue rows must follow the order of enum Msg");

// Modbus exception codes and their entries.
constexpr std::array<std::pair<std::uint8_t, Msg>, 8> kExceptions{{
    {0x01, Msg::IllegalFunction},
    {0x02, Msg::IllegalAddress},
    {0x03, Msg::IllegalData},
    {0x04, Msg::IllegalCommand},
    {0x0B, Msg::IllegalFrame},
    {0x0C, Msg::TooFewData},
    {0x0D, Msg::TooManyData},
    {0x0E, Msg::IllegalAscii},
}};

}  // namespace

std::string_view Text(Msg msg) {
  const auto i = static_cast<std::size_t>(msg);
  return i < kCatalogue.size() ? kCatalogue[i].text : std::string_view{};
}

Msg ExceptionMsg(std::uint8_t code) {
  for (const auto& [c, msg] : kExceptions) {
    if (c == code) return msg;
  }
  return Msg::UnknownError;
}

}  // namespace kx
