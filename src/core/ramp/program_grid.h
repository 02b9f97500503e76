// The ramp/soak editor's grid as decisions on the program table, without
// widgets: 9 columns (headings, then patterns 0 to 7) by 20 rows (headings,
// max step, set value and time of steps 0 to 7, loop count, link); what each
// cell shows, which editor a selected cell takes and with what, how an
// editor's value is stored, and which controls a state of the editor enables.
#pragma once

#include <cstdint>
#include <string>

#include "core/ramp/program_table.h"
#include "core/text/messages.h"

namespace kx {

inline constexpr int kGridColumns = 9;
inline constexpr int kGridRows = 20;
inline constexpr int kRowMaxStep = 1;
inline constexpr int kRowLoopCount = 18;
inline constexpr int kRowLink = 19;

enum class CellKind : std::uint8_t { None, MaxStep, SetValue, Time, LoopCount, Link };

// The kind of the cells of a row (None for the heading row and rows outside the grid).
CellKind KindOfRow(int row);
// Pattern (0..7) of a pattern column (1..8).
int PatternOfColumn(int column);
// Step (0..63) of a set-value or time cell.
int StepOfCell(int row, int column);

// Heading of row 0 or column 0 ("Pattern 3", "Step Max.", "Execute Time 7");
// empty elsewhere.
std::string HeadingText(int row, int column);
// What a pattern cell shows of the table ("123.4", "01:30", "Prog End").
std::string CellText(const ProgramTable& table, int row, int column);

// The Edit Page for a selected cell: the caption over it, the one editor
// shown and what it is loaded with. Loading stores nothing.
struct CellEditor {
  CellKind kind = CellKind::None;
  Msg caption = Msg::StepCount;  // `StepLinkLb` (unused for None)
  int item = 0;                  // `MaxStep`, `StepLink` or `TimeHour` item
  int minute = 0;                // `TimeMin`
  bool minuteEditable = true;    // `TimeMin` enabled (not at the longest hour)
  std::string text;              // `SPEdit`: the cell's text
};
CellEditor EditorFor(const ProgramTable& table, int row, int column);

// What the editors hold when Enter stores them into a cell.
struct EditorInput {
  int maxStep = 0;   // `MaxStep` index
  int link = 0;      // `StepLink` index
  std::string text;  // `SPEdit`
  int hour = 0;      // `TimeHour` index
  int minute = 0;    // `TimeMin`
};
// Stores the editor's value into the cell's item by the storing rules.
struct StoreOutcome {
  bool stored = false;     // false: refused, the old value kept (or no cell)
  std::string editorText;  // not empty: `SPEdit` shows this again (a refused set value, its old value)
};
StoreOutcome StoreEditor(ProgramTable& table, int row, int column, const EditorInput& input);

// Choosing the longest hour forces its minutes to 0 and locks them.
constexpr bool MinuteEditable(int hour) { return hour != kLongestHour; }

// Which of the editor's controls are enabled: nothing but Read Setting and
// Read File until a program was read or loaded; during a transfer the start
// list, file and transfer buttons wait (the Edit Page stays usable) and the
// progress label and bar show.
struct EditorControls {
  bool startList = false;    // `ProgStart`
  bool readSetting = false;  // `ReadSBt`
  bool readFile = false;     // `ReadFBt`
  bool saveFile = false;     // `SaveFBt`
  bool write = false;        // `WrBt`
  bool edit = false;         // `EditPBt`
  bool progress = false;     // `UpLoadLabelP`, `UpLoadBarP` shown
  friend bool operator==(const EditorControls&, const EditorControls&) = default;
};
EditorControls ControlsFor(bool filled, bool transferring);

}  // namespace kx
