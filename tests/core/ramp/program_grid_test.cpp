#include "core/ramp/program_grid.h"

#include <gtest/gtest.h>

#include <vector>

namespace kx {
namespace {

// Pattern 2 (column 3) with distinct values in each kind of cell.
ProgramTable Sample() {
  ProgramTable t;
  t.link.fill(kLinkEnd);
  t.maxStep[2] = 5;
  t.loops[2] = 12;
  t.link[2] = 4;
  t.setValue[2 * kStepsPerPattern + 3] = -15;  // step 3 of pattern 2: row 8
  t.time[2 * kStepsPerPattern + 3] = 90;       // row 9
  t.time[2 * kStepsPerPattern + 7] = 900;      // row 17: the longest time
  return t;
}

TEST(ProgramGridTest, HeadingsAndCellsShowTheirRowsKind) {
  struct Case { int row, column; const char* heading; const char* cell; };
  const std::vector<Case> cases = {
      {0, 1, "Pattern 0", ""},      {0, 8, "Pattern 7", ""},           {1, 0, "Step Max.", ""},
      {2, 0, "Set Value 0", ""},    {17, 0, "Execute Time 7", ""},     {18, 0, "Loop Count", ""},
      {19, 0, "Link Pattern", ""},  {1, 3, "", "5"},                   {8, 3, "", "-1.5"},
      {9, 3, "", "01:30"},          {17, 3, "", "15:00"},              {18, 3, "", "12"},
      {19, 3, "", "Pattern 4"},     {19, 1, "", "Prog End"},           {0, 0, "", ""},
  };
  const ProgramTable t = Sample();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
    EXPECT_EQ(HeadingText(c.row, c.column), c.heading);
    EXPECT_EQ(CellText(t, c.row, c.column), c.cell);
  }
}

TEST(ProgramGridTest, ASelectedCellLoadsItsOneEditor) {
  ProgramTable t = Sample();
  t.maxStep[7] = 11;  // out of range (a file): shown as the last item
  t.link[7] = 30;
  struct Case { int row, column; CellKind kind; Msg caption; int item, minute; bool minuteEditable; const char* text; };
  const std::vector<Case> cases = {
      {1, 3, CellKind::MaxStep, Msg::StepCount, 5, 0, true, ""},
      {8, 3, CellKind::SetValue, Msg::SetValuePrefix, 0, 0, true, "-1.5"},
      {9, 3, CellKind::Time, Msg::Hour, 1, 30, true, ""},
      {17, 3, CellKind::Time, Msg::Hour, 15, 0, false, ""},
      {18, 3, CellKind::LoopCount, Msg::LoopCount, 0, 0, true, "12"},
      {19, 3, CellKind::Link, Msg::LinkPattern, 4, 0, true, ""},
      {1, 8, CellKind::MaxStep, Msg::StepCount, 7, 0, true, ""},
      {19, 8, CellKind::Link, Msg::LinkPattern, 8, 0, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
    const CellEditor e = EditorFor(t, c.row, c.column);
    EXPECT_EQ(e.kind, c.kind);
    EXPECT_EQ(e.caption, c.caption);
    EXPECT_EQ(e.item, c.item);
    EXPECT_EQ(e.minute, c.minute);
    EXPECT_EQ(e.minuteEditable, c.minuteEditable);
    EXPECT_EQ(e.text, c.text);
  }
  EXPECT_EQ(EditorFor(t, 0, 3).kind, CellKind::None);
  EXPECT_EQ(EditorFor(t, 5, 0).kind, CellKind::None);
}

TEST(ProgramGridTest, EnterStoresIntoTheSelectedCellOnly) {
  EditorInput in;
  in.maxStep = 6, in.link = 8, in.hour = 2, in.minute = 5;
  in.text = "250";

  ProgramTable t = Sample();
  EXPECT_TRUE(StoreEditor(t, 1, 3, in).stored);
  EXPECT_TRUE(StoreEditor(t, 19, 3, in).stored);
  EXPECT_TRUE(StoreEditor(t, 9, 3, in).stored);
  EXPECT_TRUE(StoreEditor(t, 18, 3, in).stored);
  ProgramTable expected = Sample();
  expected.maxStep[2] = 6;
  expected.link[2] = kLinkEnd;
  expected.time[2 * kStepsPerPattern + 3] = 125;
  expected.loops[2] = kMaxLoopCount;
  EXPECT_EQ(t, expected);

  // A refused set value keeps the old one and puts it back in the field; a
  // refused loop count keeps the old one and leaves the field as typed.
  in.text = "oops";
  const StoreOutcome setValue = StoreEditor(t, 8, 3, in);
  EXPECT_FALSE(setValue.stored);
  EXPECT_EQ(setValue.editorText, "-1.5");
  const StoreOutcome loops = StoreEditor(t, 18, 3, in);
  EXPECT_FALSE(loops.stored);
  EXPECT_EQ(loops.editorText, "");
  in.text = "12.3";
  EXPECT_TRUE(StoreEditor(t, 8, 3, in).stored);
  EXPECT_EQ(t.setValue[2 * kStepsPerPattern + 3], 123);
  // Heading cells take nothing.
  const ProgramTable before = t;
  EXPECT_FALSE(StoreEditor(t, 0, 3, in).stored);
  EXPECT_FALSE(StoreEditor(t, 8, 0, in).stored);
  EXPECT_EQ(t, before);
}

TEST(ProgramGridTest, ControlsFollowTheTableAndTheTransfer) {
  struct Case { bool filled, transferring; EditorControls controls; };
  //                                          start  readS  readF  save   write  edit   progress
  const std::vector<Case> cases = {
      {false, false, EditorControls{false, true, true, false, false, false, false}},
      {true, false, EditorControls{true, true, true, true, true, true, false}},
      {false, true, EditorControls{false, false, false, false, false, false, true}},
      // During a transfer the Edit Page stays usable.
      {true, true, EditorControls{false, false, false, false, false, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.filled << c.transferring);
    EXPECT_EQ(ControlsFor(c.filled, c.transferring), c.controls);
  }
}

}  // namespace
}  // namespace kx
