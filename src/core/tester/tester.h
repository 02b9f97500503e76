// Single command tester: composes one Modbus request from a few hexadecimal
// fields (with its LRC or CRC digits), sends it once or on every tick of the
// main window's 1.5 s timer, and lets the main window's routing show the raw
// answer. The tester never interprets an answer.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/modbus/codec.h"
#include "core/routing/main_routing.h"
#include "core/text/messages.h"
#include "core/line/session.h"

namespace kx {

enum class TesterCommand { ReadRegister, WriteOneWord, WriteMultiWords, ReadBits, WriteBit, UserDefine };

struct TesterCommandInfo {
  TesterCommand command;
  std::string_view item;          // text in `SCmdBox`
  std::string_view functionCode;  // empty for User Define (taken from `UserCmd`)
  Msg caption;                    // `DataLenLb` caption
  int dataMaxLength;              // `SDataLen` maximum length
};

// The command list of `SCmdBox`, in item order.
const std::array<TesterCommandInfo, 6>& TesterCommands();
const TesterCommandInfo& TesterCommandAt(TesterCommand command);

inline constexpr int kTesterWords = 8;               // DATA1 .. DATA8
inline constexpr std::size_t kTesterMaxSendText = 98;  // fits the 100-byte buffer with CR LF
inline constexpr int kTesterRepeatMs = 1500;

// Word index (DATA1 = 0) carried by `Edit1` .. `Edit8`: the left column holds
// DATA1-4, the right column DATA5-8 as `Edit6`, `Edit7`, `Edit5`, `Edit8`.
inline constexpr std::array<int, 8> kEditWordIndex{0, 1, 2, 3, 6, 4, 5, 7};

// What the tester's fields hold (upper case, as typed).
struct TesterFields {
  std::string address;                 // `SCOMAddr`
  std::optional<TesterCommand> command;  // `SCmdBox`; nothing chosen at first
  std::string userCmd = "03";          // `UserCmd`
  std::string funcAddr;                // `SFunc`
  std::string data;                    // `SDataLen`
  // The multi-data texts: each empty or exactly four hexadecimal digits.
  std::array<std::string, kTesterWords> words;
};

// The multi-data text of a typed word: empty for an empty or non-hexadecimal
// field, else the field as four digits.
std::string MultiDataWord(std::string_view fieldText);

struct ComposedFrame {
  enum class Kind {
    Unchanged,  // a precondition is not met: SEND and LRC keep their texts
    Composed,   // sendText and checkDigits hold the frame
    Invalid,    // a field is not hexadecimal: SEND and LRC are emptied
    BadCount,   // the word count is not a decimal number: error box, SEND and LRC kept
  };
  Kind kind = Kind::Unchanged;
  std::string sendText;     // `SendEdit`
  std::string checkDigits;  // `SChkSum`
  std::string error;        // BadCount: what the error box says
};

// The frame composer (runs after every change of a field or the command).
ComposedFrame ComposeTesterFrame(const TesterFields& fields, bool rtu);

// The block a SEND text puts on the line: ASCII, the text plus CR LF; RTU, the
// digit pairs after the first character as bytes. nullopt for an empty text or
// one longer than 98 characters (refused, never cut).
std::optional<Bytes> TesterBlock(std::string_view sendText, bool rtu);

class Tester {
 public:
  struct Hooks {
    std::function<void(bool enabled)> setToolBarEnabled;  // main window's tool bar
    std::function<void(bool on)> setRepeatTimer;          // main window's Timer1 at 1500 ms
    std::function<void(const std::string&)> showError;    // standard error box
    std::function<void()> changed;                        // SEND, LRC, captions or buttons changed
  };

  // Takes the routing's lost-line call of the tester side until destroyed.
  Tester(Session& session, MainPortRouting& routing, Hooks hooks);
  ~Tester();
  Tester(const Tester&) = delete;
  Tester& operator=(const Tester&) = delete;

  TesterFields fields;
  std::string sendText;     // `SendEdit` (editable by hand)
  std::string checkDigits;  // `SChkSum`

  // Runs the composer on the fields and updates SEND and LRC.
  void Compose();

  void SendClick();    // "Send"
  void RepeatClick();  // "Repeat" / "Stop"
  void ClearClick();   // "Clear Result"
  void CloseClick();   // "Close"
  // One tick of the main window's Timer1: sends again while repeating.
  void TimerTick();
  // The line failed while open (the routing has dropped the answer and the
  // repeat): the repeat timer stops and the buttons return to idle.
  void LineLost();

  bool Repeating() const { return routing_.tester.repeat; }
  bool AwaitingAnswer() const { return routing_.tester.awaitingAnswer; }
  bool SendEnabled() const { return !Repeating(); }
  std::string_view RepeatCaption() const { return Text(Repeating() ? Msg::Stop : Msg::Repeat); }

 private:
  bool MayUseLine() const;
  bool TextAcceptable();
  bool OpenForTester();
  bool Transmit();
  void Changed() const;

  Session& session_;
  MainPortRouting& routing_;
  Hooks hooks_;
};

}  // namespace kx
