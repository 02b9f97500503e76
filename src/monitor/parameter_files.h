// The monitor's parameter buffer and what the FILE and PARAMETERS menus do
// with it: OPEN, SAVE and SAVE AS of "*.par" files, UPLOAD from the selected
// controller, WRITE TO SELECTED DEVICE and WRITE TO ALL CONNECTED DEVICE (by
// broadcast), with their confirmations, message boxes and the progress line
// (`ProgressLb`, `ProgressBar`). It also carries the ramp/soak editor's Read
// Setting and Write through the engine: RAMP SOAK PROGRAM asks for the editor
// (app opens it and connects it here), the transfers report back by signals.
// Whether a transfer may start, and why not, is the core's rule
// (core/monitor/transfer_rules.h). The monitor window hands it the engine's
// transfer reports.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QString>

#include <memory>

#include "core/monitor/monitor_engine.h"
#include "core/monitor/transfer_rules.h"
#include "core/params/parameter_files.h"
#include "core/ramp/program_table.h"

namespace kx::monitor {

class ParameterFiles : public QObject {
  Q_OBJECT
 public:
  struct Actions {
    QAction* open;
    QAction* save;
    QAction* saveAs;
    QAction* upload;
    QAction* download;
    QAction* writeAll;
    QAction* rampSoak;
  };

  // The progress line lies in the window's status bar, shown only while an
  // upload or a download runs.
  ParameterFiles(QMainWindow* window, MonitorEngine& engine, Actions actions);
  ~ParameterFiles() override;

  // The engine started afresh (window shown): the buffer is no longer valid,
  // its trailer is cleared and SAVE waits for a new SAVE AS (the engine's
  // menu items know that already).
  void EngineReset();

  // Transfer reports of the engine.
  void TransferProgress(const Transfer& transfer);
  void BufferUploaded(const Transfer& upload, const ParameterBuffer& buffer);
  void TransferEnded(const Transfer& transfer, TransferEnd end);

  const ParameterBuffer& Buffer() const { return files_.buffer(); }

  // ---- The ramp/soak editor's transfers ----
  // The editor's messages (a refusal, a transfer given up) are shown over it.
  void SetRampEditor(QWidget* editor) { rampEditor_ = editor; }
  // Read Setting: the parameter memory, then the step image, of the selected controller.
  void ReadRampProgram();
  // Write: the 153 registers of `table`.
  void WriteRampProgram(const ProgramTable& table);

 signals:
  // RAMP SOAK PROGRAM was chosen: the editor is to be shown.
  void RampEditorWanted();
  void RampProgress(int permille);
  // Read Setting has read the whole program (the transfer has ended).
  void RampProgramRead(const kx::ProgramTable& table);
  // A write completed, or a read or write stopped part-way or never started.
  void RampTransferEnded();

 private:
  void Open();
  void Save();
  void SaveAs();
  void Upload();
  void Download(bool broadcast);
  // The selected controller as the transfer rules see it.
  TransferFacts SelectedFacts() const;
  // Tells why a transfer was refused (nothing for NoController); true when refused.
  bool Refused(TransferRefusal refusal, QWidget* over);
  // Tells "Fail to save file" with the reason when a save failed.
  bool Saved(bool ok, const std::string& reason);
  void TellSaved();
  void ShowProgress(const QString& caption);
  void HideProgress();
  // Tells the engine what the buffer allows; the menu items follow.
  void UpdateMenus();
  // Message boxes shown after the engine's report has been handled.
  void TellLater(const QString& text, const QString& caption, QWidget* parent = nullptr);
  bool Start(std::shared_ptr<Transfer> transfer);

  QMainWindow* window_;
  MonitorEngine& engine_;
  Actions actions_;
  ParameterFileState files_;
  std::shared_ptr<ImageUpload> upload_;
  std::shared_ptr<Transfer> download_;
  std::shared_ptr<ImageUpload> rampRead_;
  std::shared_ptr<Transfer> rampWrite_;
  QLabel* progressLb_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPointer<QWidget> rampEditor_;
};

}  // namespace kx::monitor
