#include "app/ramp_editor_link.h"

#include "monitor/monitor_window.h"
#include "monitor/parameter_files.h"
#include "ramp/ramp_soak_window.h"

namespace kx::app {

ramp::RampSoakWindow* AttachRampEditor(monitor::MonitorWindow& monitor) {
  auto* editor = new ramp::RampSoakWindow(&monitor);
  monitor::ParameterFiles& files = monitor.parameterFiles();
  files.SetRampEditor(editor);
  QObject::connect(&files, &monitor::ParameterFiles::RampEditorWanted, editor, [editor] {
    editor->show();
    editor->raise();
    editor->activateWindow();
  });
  QObject::connect(editor, &ramp::RampSoakWindow::ReadRequested, &files, &monitor::ParameterFiles::ReadRampProgram);
  QObject::connect(editor, &ramp::RampSoakWindow::WriteRequested, &files,
                   [&files, editor] { files.WriteRampProgram(editor->table()); });
  QObject::connect(&files, &monitor::ParameterFiles::RampProgress, editor, &ramp::RampSoakWindow::TransferProgress);
  QObject::connect(&files, &monitor::ParameterFiles::RampProgramRead, editor, &ramp::RampSoakWindow::ReadFinished);
  QObject::connect(&files, &monitor::ParameterFiles::RampTransferEnded, editor, &ramp::RampSoakWindow::TransferEnded);
  return editor;
}

}  // namespace kx::app
