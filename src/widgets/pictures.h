// The program's own pictures, drawn at run time: the tool bar icons, the
// controller front shown on the main window, the picture of the about box and
// the title strip of the communication settings window.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace kx::app {

enum class ToolIcon { SetPc, SetKx3, Monitor, Recorder, Tester, FirmwareUpdate, Exit, About };

// A 32 × 32 tool bar icon.
QIcon ToolBarIcon(ToolIcon icon);

// A panel-mount temperature controller seen from the front.
QPixmap ControllerPicture(QSize size);

// Small picture for the about box.
QPixmap AboutPicture(QSize size);

// Title strip across the top of the communication settings window.
QPixmap SettingsTitlePicture(QSize size);

}  // namespace kx::app
