// File open and save dialogs with the catalogue's filters ("description|*.PAT":
// the files matching the pattern in either case are listed). The save dialog
// does not ask about overwriting: the windows ask that themselves with their
// own text. Window tests replace the dialogs with a chooser that names a file.
#pragma once

#include <QString>

#include <functional>

#include "core/text/messages.h"

class QWidget;

namespace kx::app {

enum class FileDialogKind { Open, Save };

// The Qt filter of a catalogue filter entry: "text (*.par *.PAR)".
QString QtFileFilter(Msg filter);

// The file chosen, or an empty text when the user cancelled.
QString ChooseFile(QWidget* parent, FileDialogKind kind, Msg filter);

// Replaces the dialogs (tests); an empty function restores them.
using FileChooser = std::function<QString(FileDialogKind kind, const QString& qtFilter)>;
void SetFileChooser(FileChooser chooser);

// The file name without its folder, as the overwrite question shows it.
QString FileNameOnly(const QString& path);

}  // namespace kx::app
