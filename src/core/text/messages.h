// The message catalogue: every fixed English text the windows show in message
// boxes, status lines and labels, and the file dialog filters. The texts are
// exact, leading and trailing blanks included: texts that begin or end with a
// blank are joined with a number, a name or another text when shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kx {

enum class Msg : std::uint8_t {
  // Main window and single command tester.
  ReceivedDataTimeout,  // "Received Data Timeout !" (tester: no answer)
  ComPortInUse,         // "COM Port In Use !!!"
  CaptionWordCount,     // "WORD COUNT"
  CaptionWriteData,     // "WRITE DATA"
  CaptionBitCount,      // "BIT COUNT"
  CaptionContent,       // "CONTENT"
  CaptionData,          // "DATA"
  Repeat,               // "Repeat"
  Stop,                 // "Stop" (also the recorder's Start button while acquiring)

  // User message window.
  ReadyToUpdateKx3,
  WaitForKx3Reinitial,
  EnjoyNewFirmware,
  UpdateSucceeded,
  RepowerToEnableFirmware,
  ConnectKx3eAndRepower,
  AutoSyncSuccess,
  ChangingProtocol,
  PleaseWait,

  // Communication settings window: PC settings, bus search, protocol change.
  NoComPortExist,
  PressSetToChangeProtocol,
  DataCannotSave,
  PressStartToDetect,
  HeadingAddress,         // " Address"
  HeadingProtocol,        // " Communicate Protocol"
  Start,                  // "START" (also the recorder's Start button when idle)
  SearchCancel,           // "CANCEL"
  EstimateTimeLeft,       // "Estimate time left : "
  MinutesSuffix,          // " min,"
  SecondsSuffix,          // " sec"
  SearchCompletedFound,   // "Search Completed,Found "
  SearchAbortFound,       // "Search abort,Found "
  SearchLineLostFound,    // "Line lost,Found " (the port failed during a search)
  ItemsSuffix,            // " items"
  ChangeDataError,        // "Data error,Fail to changed"
  ChangeTimeoutError,     // "Timeout error,Fail to changed"
  ProtocolChanging,       // "KX3 Protocol Changing"
  ProtocolChangeSuccess,  // "SET KX3 Protocol Success"

  // Exchange results (monitor; several also serve the recorder and firmware update).
  AddressNotCorrect,
  WriteErrorPrefix,  // "Write error : "
  ReadErrorPrefix,   // " Read error : "
  IllegalFunction,   // exception 01
  IllegalAddress,    // exception 02
  IllegalData,       // exception 03
  IllegalCommand,    // exception 04
  IllegalFrame,      // exception 0B
  TooFewData,        // exception 0C
  TooManyData,       // exception 0D
  IllegalAscii,      // exception 0E
  UnknownError,      // any other exception code
  UnknownCommand,    // unexpected function code in the answer
  ReceivedChecksumError,
  RcvFormatError,
  WriteCompareFail,
  DataTimeOutError,  // "Received data time out error"
  LineLost,          // "the line was lost" (the port failed during an exchange)
  LineEchoWrong,     // the line's echo of a request was not the request

  // Monitor: panels and device tiles.
  FirmwareVersionPrefix,  // "F/W Version "
  NotAvailable,           // "N/A"
  Out1,
  Out2,
  HeatCool,
  ComWrite,
  DevicePrefix,  // "DEVICE "
  Cancel,        // "Cancel" (connect button while the device is connected)
  ActiveSuffix,  // " (ACTIVE)"
  Connect,
  Waiting,
  NoConnect,
  InputError,
  OverRange,
  MemoryFail,
  IllegalOnWrongModel,
  ConfirmRestoreDefault,
  ConfirmClearFactory,
  NoError,

  // Monitor: parameter files and transfers.
  OverWriteFilePrefix,  // "Over write file : " (also recorder and ramp/soak editor)
  SaveParametersDone,   // " save parameters to file done"
  ParametersLoaded,     // " parameters successful load"
  ParametersUploaded,   // " parameters successful upload into buffer"
  UploadDone,
  Done,
  FailToSaveFile,
  EnableComWriteFirst,
  DifferentModelConfirm,
  ModelNameConfirm,  // caption of DifferentModelConfirm
  SetAllDevicesConfirm,

  // File reading (monitor, recorder replay, ramp/soak editor, firmware update).
  FileOperationError,  // "Can't perform ... Open, Seek, Read"
  FileErrorCaption,    // "File Error"
  BufferReadError,     // "Can't perform ... Read to Buffer"
  BufferErrorCaption,  // "Buffer Error"
  DataErrorCaption,    // "Data Error"
  FileLengthOrContentError,

  // Recorder.
  StartGettingData,
  EndOfAcquireData,
  ReceivedDataMismatch,  // " Received data does not match"
  InputUnstable,         // " Input unstable or Device fail"
  RecordFileError,       // "Record file error : " (followed by the reason)
  NothingToExport,       // "No recording data to export"
  CsvExportDone,         // "CSV export done : " (followed by the file name)
  CsvExportFailed,       // "CSV export failed : " (followed by the reason)

  // Ramp/soak editor.
  StepMax,
  PatternPrefix,      // "Pattern "
  SetValuePrefix,     // "Set Value "
  ExecuteTimePrefix,  // "Execute Time "
  LoopCount,
  LinkPattern,
  ReadingNow,
  WritingNow,
  ProgEnd,
  StepCount,
  Hour,

  // Firmware update.
  UnknownModel,  // "UnKnow"
  ProgramChecksumIncorrect,
  EnableFlashFail,
  OptionByteIncorrect,
  EraseSectorFail,
  WriteDataFail,
  MemoryChecksumFail,
  RxChecksumError,
  ProgramUpdateSucceeded,
  ReadingOptionByte,
  EraseSector,  // "Erase Sector 1/2"
  VerifyMemoryChecksum,
  WriteDataToRom,
  ComPortPrefix,   // "COM Port " (followed by the port number)
  NotExistSuffix,  // " not exist !"

  // Lines behind a network server: what the server decides instead of the
  // program. Each follows the line's name ("COM3 (tcp://10.0.0.5:4001)").
  ServerSetsFormat,        // PC settings, tcp://
  GatewaySetsFormat,       // PC settings, modbus-tcp://
  ServerSearchAddresses,   // bus search, tcp://
  GatewaySearchAddresses,  // bus search, modbus-tcp://
  GatewayForm,             // "Modbus TCP": the form a hit over a gateway is listed with
  ServerChangeWarning,     // protocol change, tcp:// (a Yes/No question)
  GatewayChangeWarning,    // protocol change, modbus-tcp:// (a Yes/No question)
  ServerFirmwareFormat,    // firmware update, tcp://
  GatewayFirmwareRefused,  // firmware update, modbus-tcp://

  // File dialog filters: description, a vertical bar, then the pattern.
  FilterParameters,  // *.par
  FilterRecord,      // *.rec
  FilterRampSoak,    // *.r$s
  FilterFirmware,    // *.oc
  FilterCsv,         // *.csv (recorder export)
  FilterTrace,       // *.txt (the traffic window's saved frames)

  Count_  // number of entries; not a text
};

inline constexpr std::size_t kMsgCount = static_cast<std::size_t>(Msg::Count_);

// The text of a catalogue entry (empty for Msg::Count_ or out-of-range values).
std::string_view Text(Msg msg);

// Catalogue entry of a Modbus exception code (01..04, 0B..0E; UnknownError otherwise).
Msg ExceptionMsg(std::uint8_t code);

}  // namespace kx
