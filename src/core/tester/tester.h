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
#include <variant>

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

// What the tester is told: the panel's fields and buttons, the main window's
// Timer1, and from the routing the end of an awaited answer and a lost line.
namespace tester_event {
struct FieldsChanged { TesterFields fields; };  // a field or the command changed: compose
struct SendTextEdited { std::string text; };    // `SendEdit` typed by hand
struct SendClick {};                            // "Send"
struct RepeatClick {};                          // "Repeat" / "Stop"
struct ClearClick {};                           // "Clear Result"
struct CloseClick {};                           // "Close"
struct TimerTick {};                            // Timer1: sends again while repeating
struct AnswerEnded {};                          // the routing ended the awaited answer (shown already)
// The line failed while open (the routing has dropped the answer and the
// repeat): the repeat timer stops and the buttons return to idle.
struct LineLost {};
}  // namespace tester_event

using TesterEvent = std::variant<tester_event::FieldsChanged, tester_event::SendTextEdited, tester_event::SendClick,
                                 tester_event::RepeatClick, tester_event::ClearClick, tester_event::CloseClick,
                                 tester_event::TimerTick, tester_event::AnswerEnded, tester_event::LineLost>;

class Tester {
 public:
  // Where the tester is. The routing tells it when an awaited answer ended;
  // the port closes then unless Repeat runs.
  enum class State {
    Idle,            // nothing awaited, no repeat
    Awaiting,        // a Send's answer is awaited
    Repeating,       // Repeat runs; the next Timer1 tick sends
    RepeatAwaiting,  // Repeat runs and an answer is awaited
  };

  struct Hooks {
    std::function<void(bool enabled)> setToolBarEnabled;  // main window's tool bar
    std::function<void(bool on)> setRepeatTimer;          // main window's Timer1 at 1500 ms
    std::function<void(const std::string&)> showError;    // standard error box
    std::function<void()> changed;                        // SEND, LRC, captions or buttons changed
  };

  // Takes the routing's answer-ended and lost-line calls of the tester side
  // until destroyed.
  Tester(Session& session, MainPortRouting& routing, Hooks hooks);
  ~Tester();
  Tester(const Tester&) = delete;
  Tester& operator=(const Tester&) = delete;

  void Handle(const TesterEvent& event);

  State state() const { return state_; }
  const TesterFields& fields() const { return fields_; }
  const std::string& sendText() const { return sendText_; }      // `SendEdit`
  const std::string& checkDigits() const { return checkDigits_; }  // `SChkSum`

  bool Repeating() const { return state_ == State::Repeating || state_ == State::RepeatAwaiting; }
  bool AwaitingAnswer() const { return state_ == State::Awaiting || state_ == State::RepeatAwaiting; }
  bool SendEnabled() const { return !Repeating(); }
  std::string_view RepeatCaption() const { return Text(Repeating() ? Msg::Stop : Msg::Repeat); }

 private:
  void On(const tester_event::FieldsChanged& e);
  void On(const tester_event::SendTextEdited& e);
  void On(const tester_event::SendClick&);
  void On(const tester_event::RepeatClick&);
  void On(const tester_event::ClearClick&);
  void On(const tester_event::CloseClick&);
  void On(const tester_event::TimerTick&);
  void On(const tester_event::AnswerEnded&);
  void On(const tester_event::LineLost&);
  void Compose();
  bool MayUseLine() const;
  bool TextAcceptable();
  bool OpenForTester();
  bool Transmit();
  void Changed() const;
  // Repeat turned on or off; the awaited answer, if any, stays awaited.
  void SetRepeat(bool on);
  // Closes the port and frees the line (no answer awaited, no repeat).
  void CloseLine();

  Session& session_;
  MainPortRouting& routing_;
  Hooks hooks_;
  TesterFields fields_;
  std::string sendText_;
  std::string checkDigits_;
  State state_ = State::Idle;
};

}  // namespace kx
