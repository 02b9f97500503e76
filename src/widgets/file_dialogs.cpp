#include "widgets/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>

#include "widgets/qt_text.h"

namespace kx::app {

namespace {

FileChooser& Chooser() {
  static FileChooser chooser;
  return chooser;
}

}  // namespace

QString QtFileFilter(Msg filter) {
  // "KX parameters backup files (*.par)|*.PAR": the description already names
  // the lower-case pattern; both cases are offered, as on a case-blind system.
  const QString text = QText(filter);
  const qsizetype bar = text.indexOf(QLatin1Char('|'));
  if (bar < 0) return text;
  const QString description = text.left(bar);
  const QString pattern = text.mid(bar + 1);
  const qsizetype open = description.lastIndexOf(QLatin1Char('('));
  if (open < 0) return description + QStringLiteral(" (") + pattern + QLatin1Char(')');
  return description.left(open) + QLatin1Char('(') + pattern.toLower() + QLatin1Char(' ') + pattern + QLatin1Char(')');
}

QString ChooseFile(QWidget* parent, FileDialogKind kind, Msg filter) {
  const QString qtFilter = QtFileFilter(filter);
  if (Chooser()) return Chooser()(kind, qtFilter);
  QFileDialog dialog(parent);
  dialog.setNameFilter(qtFilter);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (kind == FileDialogKind::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension gets the filter's.
    const qsizetype dot = qtFilter.indexOf(QStringLiteral("*."));
    const qsizetype end = qtFilter.indexOf(QLatin1Char(' '), dot);
    if (dot >= 0) dialog.setDefaultSuffix(qtFilter.mid(dot + 2, end - dot - 2));
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void SetFileChooser(FileChooser chooser) { Chooser() = std::move(chooser); }

QString FileNameOnly(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace kx::app
