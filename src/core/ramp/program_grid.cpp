#include "core/ramp/program_grid.h"

#include <algorithm>

namespace kx {

namespace {

std::size_t PatternIndex(int column) { return static_cast<std::size_t>(std::clamp(PatternOfColumn(column), 0, kPatterns - 1)); }
std::size_t StepIndex(int row, int column) { return static_cast<std::size_t>(std::clamp(StepOfCell(row, column), 0, kSteps - 1)); }

}  // namespace

CellKind KindOfRow(int row) {
  if (row == kRowMaxStep) return CellKind::MaxStep;
  if (row == kRowLoopCount) return CellKind::LoopCount;
  if (row == kRowLink) return CellKind::Link;
  if (row >= 2 && row < kRowLoopCount) return row % 2 == 0 ? CellKind::SetValue : CellKind::Time;
  return CellKind::None;
}

int PatternOfColumn(int column) { return column - 1; }

int StepOfCell(int row, int column) { return PatternOfColumn(column) * kStepsPerPattern + (row - 2) / 2; }

std::string HeadingText(int row, int column) {
  if (row == 0 && column >= 1 && column < kGridColumns)
    return std::string(Text(Msg::PatternPrefix)) + std::to_string(PatternOfColumn(column));
  if (column != 0) return {};
  const int step = (row - 2) / 2;
  switch (KindOfRow(row)) {
    case CellKind::MaxStep: return std::string(Text(Msg::StepMax));
    case CellKind::SetValue: return std::string(Text(Msg::SetValuePrefix)) + std::to_string(step);
    case CellKind::Time: return std::string(Text(Msg::ExecuteTimePrefix)) + std::to_string(step);
    case CellKind::LoopCount: return std::string(Text(Msg::LoopCount));
    case CellKind::Link: return std::string(Text(Msg::LinkPattern));
    case CellKind::None: return {};
  }
  return {};
}

std::string CellText(const ProgramTable& table, int row, int column) {
  if (column < 1 || column >= kGridColumns) return {};
  const std::size_t p = PatternIndex(column);
  switch (KindOfRow(row)) {
    case CellKind::MaxStep: return std::to_string(table.maxStep[p]);
    case CellKind::SetValue: return SetValueText(table.setValue[StepIndex(row, column)]);
    case CellKind::Time: return TimeText(table.time[StepIndex(row, column)]);
    case CellKind::LoopCount: return std::to_string(table.loops[p]);
    case CellKind::Link: return LinkText(table.link[p]);
    case CellKind::None: return {};
  }
  return {};
}

CellEditor EditorFor(const ProgramTable& table, int row, int column) {
  CellEditor e;
  if (column < 1 || column >= kGridColumns) return e;
  e.kind = KindOfRow(row);
  const std::size_t p = PatternIndex(column);
  switch (e.kind) {
    case CellKind::MaxStep:
      e.caption = Msg::StepCount;
      e.item = std::min<int>(table.maxStep[p], kStepsPerPattern - 1);
      break;
    case CellKind::SetValue:
      e.caption = Msg::SetValuePrefix;
      e.text = CellText(table, row, column);
      break;
    case CellKind::Time: {
      e.caption = Msg::Hour;
      const int minutes = table.time[StepIndex(row, column)];
      e.item = std::min(minutes / 60, kLongestHour);
      e.minuteEditable = MinuteEditable(e.item);
      e.minute = e.minuteEditable ? minutes % 60 : 0;
      break;
    }
    case CellKind::LoopCount:
      e.caption = Msg::LoopCount;
      e.text = CellText(table, row, column);
      break;
    case CellKind::Link:
      e.caption = Msg::LinkPattern;
      e.item = std::min<int>(table.link[p], kLinkEnd);
      break;
    case CellKind::None: break;
  }
  return e;
}

StoreOutcome StoreEditor(ProgramTable& table, int row, int column, const EditorInput& input) {
  StoreOutcome out;
  if (column < 1 || column >= kGridColumns) return out;
  const std::size_t p = PatternIndex(column);
  switch (KindOfRow(row)) {
    case CellKind::MaxStep:
      table.maxStep[p] = static_cast<std::uint8_t>(std::clamp(input.maxStep, 0, kStepsPerPattern - 1));
      out.stored = true;
      break;
    case CellKind::LoopCount: out.stored = StoreLoopCount(table, static_cast<int>(p), input.text); break;
    case CellKind::Link:
      table.link[p] = static_cast<std::uint8_t>(std::clamp<int>(input.link, 0, kLinkEnd));
      out.stored = true;
      break;
    case CellKind::Time:
      table.time[StepIndex(row, column)] = TimeFromEditor(input.hour, input.minute);
      out.stored = true;
      break;
    case CellKind::SetValue:
      out.stored = StoreSetValue(table, static_cast<int>(StepIndex(row, column)), input.text);
      if (!out.stored) out.editorText = CellText(table, row, column);
      break;
    case CellKind::None: break;
  }
  return out;
}

EditorControls ControlsFor(bool filled, bool transferring) {
  EditorControls c;
  const bool idle = !transferring;
  c.readSetting = c.readFile = idle;
  c.startList = c.saveFile = c.write = idle && filled;
  c.edit = filled;
  c.progress = transferring;
  return c;
}

}  // namespace kx
