// Scaling a window to its current width: every window has a design width, and
// when shown it multiplies the font sizes of its controls by current width ÷
// design width (integer arithmetic, multiplication first).
#pragma once

class QWidget;

namespace kx::app {

// Design widths of the windows.
inline constexpr int kMainDesignWidth = 808;
inline constexpr int kAboutDesignWidth = 282;
inline constexpr int kUserMessageDesignWidth = 384;

// value × width ÷ designWidth, truncated toward zero.
int Scaled(int value, int width, int designWidth);

// The width to scale a window's controls for, so that its design (designWidth
// x designHeight) fits a room both across and down: the room's width, or less
// where the room is too low for the design scaled to that width.
int FitWidth(int roomWidth, int roomHeight, int designWidth, int designHeight);

// Scales the fonts of `root` and all its child widgets from the sizes they had
// before the first scaling, so showing a window again does not compound.
void ScaleWindow(QWidget* root, int width, int designWidth);

}  // namespace kx::app
