#include "monitor/parameter_files.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "core/device/regmap.h"
#include "core/params/download_sequence.h"
#include "core/ramp/program_table.h"
#include "widgets/file_dialogs.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

namespace kx::monitor {

namespace {

// Message box with the given buttons; returns the button pressed. Every
// question here guards something that cannot be undone (replacing a file,
// writing controllers): Enter gives its safe answer.
QMessageBox::StandardButton Ask(QWidget* parent, const QString& caption, const QString& text,
                                QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, parent);
  box.setObjectName(QStringLiteral("ParameterFilesBox"));
  app::SetSafeDefault(box);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString StandardCaption() { return QApplication::applicationName(); }

}  // namespace

ParameterFiles::ParameterFiles(QMainWindow* window, MonitorEngine& engine, Actions actions)
    : QObject(window), window_(window), engine_(engine), actions_(actions) {
  setObjectName(QStringLiteral("ParameterFiles"));
  QStatusBar* bar = window_->statusBar();
  bar->setObjectName(QStringLiteral("ProgressLine"));
  bar->setSizeGripEnabled(false);
  progressLb_ = new QLabel(QStringLiteral(" Loading Now"), bar);
  progressLb_->setObjectName(QStringLiteral("ProgressLb"));
  progressLb_->setMinimumWidth(260);
  progressLb_->setContentsMargins(6, 0, 6, 0);
  progressBar_ = new QProgressBar(bar);
  progressBar_->setObjectName(QStringLiteral("ProgressBar"));
  progressBar_->setRange(0, 1000);
  progressBar_->setTextVisible(false);
  bar->addWidget(progressLb_);
  bar->addWidget(progressBar_, 1);
  // The bar itself stays (the window tells other things there); the progress
  // line shows during a transfer only.
  progressLb_->hide();
  progressBar_->hide();

  connect(actions_.open, &QAction::triggered, this, &ParameterFiles::Open);
  connect(actions_.save, &QAction::triggered, this, &ParameterFiles::Save);
  connect(actions_.saveAs, &QAction::triggered, this, &ParameterFiles::SaveAs);
  connect(actions_.upload, &QAction::triggered, this, &ParameterFiles::Upload);
  connect(actions_.download, &QAction::triggered, this, [this] { Download(false); });
  connect(actions_.writeAll, &QAction::triggered, this, [this] { Download(true); });
  connect(actions_.rampSoak, &QAction::triggered, this, &ParameterFiles::RampEditorWanted);
}

ParameterFiles::~ParameterFiles() = default;

void ParameterFiles::EngineReset() {
  files_.Reset();
  upload_.reset();
  download_.reset();
  rampRead_.reset();
  rampWrite_.reset();
  HideProgress();
}

void ParameterFiles::UpdateMenus() {
  // The engine keeps the menu items; it is told what the buffer allows.
  engine_.Handle(monitor_event::BufferState{files_.valid(), files_.FileChosen()});
}

void ParameterFiles::ShowProgress(const QString& caption) {
  progressLb_->setText(caption);
  progressBar_->setValue(0);
  progressLb_->show();
  progressBar_->show();
}

void ParameterFiles::HideProgress() {
  progressLb_->setText(QStringLiteral(" Loading Now"));
  progressLb_->hide();
  progressBar_->hide();
}

void ParameterFiles::TellLater(const QString& text, const QString& caption, QWidget* parent) {
  // Not from within the engine's report: a modal box there would hold the
  // engine's next request until it is closed.
  QPointer<QWidget> over = parent != nullptr ? parent : window_;
  QTimer::singleShot(0, this, [over, text, caption] {
    if (over) Ask(over, caption, text, QMessageBox::Ok);
  });
}

TransferFacts ParameterFiles::SelectedFacts() const {
  const int selected = engine_.SelectedDevice();
  if (engine_.ConnectedCount() == 0 || selected < 0 || selected >= kMonitorDevices) return {};
  const MonitorDevice& dev = engine_.Device(selected);
  return TransferFacts{dev.connected, dev.detailRead, dev.model, dev.rec.security.mode, dev.rec.comWrite};
}

bool ParameterFiles::Refused(TransferRefusal refusal, QWidget* over) {
  if (refusal == TransferRefusal::None) return false;
  const std::string_view reason = RefusalText(refusal);
  if (!reason.empty()) Ask(over, StandardCaption(), app::ToQString(reason), QMessageBox::Ok);
  return true;
}

bool ParameterFiles::Start(std::shared_ptr<Transfer> transfer) {
  engine_.Handle(monitor_event::StartTransfer{transfer});
  return engine_.RunningTransfer() == transfer.get();
}

// ---- FILE ----

void ParameterFiles::Open() {
  const QString path = app::ChooseFile(window_, app::FileDialogKind::Open, Msg::FilterParameters);
  if (path.isEmpty()) return;
  std::string reason;
  const ParLoad result = files_.Open(path.toStdString(), &reason);
  const MessageAndCaption message = LoadMessage(result);
  UpdateMenus();
  if (result == ParLoad::Loaded) {
    Ask(window_, app::QText(message.caption),
        app::ToQString(ModelVersionText(files_.buffer())) + app::QText(message.text), QMessageBox::Ok);
    return;
  }
  Ask(window_, app::QText(message.caption), app::WithReason(app::QText(message.text), reason), QMessageBox::Ok);
}

bool ParameterFiles::Saved(bool ok, const std::string& reason) {
  if (ok) return true;
  Ask(window_, StandardCaption(), app::WithReason(app::QText(Msg::FailToSaveFile), reason), QMessageBox::Ok);
  return false;
}

void ParameterFiles::TellSaved() {
  Ask(window_, app::QText(Msg::Done),
      app::ToQString(ModelVersionText(files_.buffer())) + app::QText(Msg::SaveParametersDone), QMessageBox::Ok);
}

void ParameterFiles::SaveAs() {
  if (!files_.valid()) return;
  const QString path = app::ChooseFile(window_, app::FileDialogKind::Save, Msg::FilterParameters);
  if (path.isEmpty()) return;
  if (QFileInfo::exists(path) &&
      Ask(window_, StandardCaption(), app::QText(Msg::OverWriteFilePrefix) + app::FileNameOnly(path),
          QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  std::string reason;
  if (!Saved(files_.SaveAs(path.toStdString(), &reason), reason)) return;
  UpdateMenus();
  TellSaved();
}

void ParameterFiles::Save() {
  if (!files_.FileChosen() || !files_.valid()) return;
  std::string reason;
  if (Saved(files_.Save(&reason), reason)) TellSaved();
}

// ---- PARAMETERS ----

void ParameterFiles::Upload() {
  if (Refused(UploadRefusal(SelectedFacts()), window_)) return;
  const MonitorDevice& dev = engine_.Device(engine_.SelectedDevice());
  upload_ = std::make_shared<ImageUpload>(dev.model, dev.rec.firmwareVersion, false);
  ShowProgress(actions_.upload->text());
  if (!Start(upload_)) {
    upload_.reset();
    HideProgress();
  }
}

void ParameterFiles::Download(bool broadcast) {
  if (!files_.valid() || Refused(DownloadRefusal(SelectedFacts()), window_)) return;
  const MonitorDevice& dev = engine_.Device(engine_.SelectedDevice());
  const QString caption = app::QText(Msg::ModelNameConfirm);
  if (broadcast) {
    // The file's sequence would write registers that mean other things in
    // another model (a KX1's com-write flag among them): those are named.
    QString others;
    for (int d = 0; d < kMonitorDevices; ++d) {
      const MonitorDevice& other = engine_.Device(d);
      if (!other.connected || other.model == files_.buffer()[kTrailerModel]) continue;
      const std::string_view name = ModelName(other.model);
      others += QStringLiteral("\n  address %1 (%2)")
                    .arg(other.address)
                    .arg(name.empty() ? QStringLiteral("model unknown") : app::ToQString(std::string(name)));
    }
    QString question = app::QText(Msg::SetAllDevicesConfirm);
    if (!others.isEmpty())
      question += QStringLiteral("\n\nThe buffer holds %1 parameters; connected controllers of another model:%2")
                      .arg(app::ToQString(ModelVersionText(files_.buffer())), others);
    if (Ask(window_, caption, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) return;
  } else if (files_.buffer()[kTrailerModel] != dev.model &&
             Ask(window_, caption, app::QText(Msg::DifferentModelConfirm), QMessageBox::Yes | QMessageBox::No) !=
                 QMessageBox::Yes) {
    return;
  }
  // The answer above may have come after the controller went away.
  if (engine_.ConnectedCount() == 0) return;
  const MonitorDevice& now = engine_.Device(engine_.SelectedDevice());
  auto steps = DownloadSequence(now.model, files_.buffer(), now.rec.firmwareVersion);
  download_ = std::make_shared<WriteSequence>(TransferKind::Download, std::move(steps), broadcast);
  ShowProgress((broadcast ? actions_.writeAll : actions_.download)->text());
  if (!Start(download_)) {
    download_.reset();
    HideProgress();
  }
}

void ParameterFiles::ReadRampProgram() {
  // The editor stays open while the selection changes: the rule is asked again.
  const TransferRefusal refusal = RampRefusal(SelectedFacts());
  if (refusal == TransferRefusal::None) {
    const MonitorDevice& dev = engine_.Device(engine_.SelectedDevice());
    rampRead_ = std::make_shared<ImageUpload>(dev.model, dev.rec.firmwareVersion, true);
    if (Start(rampRead_)) return;
  }
  rampRead_.reset();
  emit RampTransferEnded();
  Refused(refusal, rampEditor_ ? rampEditor_.data() : window_);
}

void ParameterFiles::WriteRampProgram(const ProgramTable& table) {
  const TransferRefusal refusal = RampRefusal(SelectedFacts());
  if (refusal == TransferRefusal::None) {
    std::vector<std::uint16_t> values;
    for (int n = 0; n < kRampWrites; ++n) values.push_back(RampWriteValue(table, n));
    rampWrite_ = std::make_shared<WriteSequence>(TransferKind::RampDownload, RampWriteSteps(values));
    if (Start(rampWrite_)) return;
  }
  rampWrite_.reset();
  emit RampTransferEnded();
  Refused(refusal, rampEditor_ ? rampEditor_.data() : window_);
}

// ---- Engine reports ----

void ParameterFiles::TransferProgress(const Transfer& transfer) {
  if (&transfer == upload_.get() || &transfer == download_.get()) {
    progressBar_->setValue(transfer.Progress());
  } else if (&transfer == rampRead_.get() || &transfer == rampWrite_.get()) {
    emit RampProgress(transfer.Progress());
  }
}

void ParameterFiles::BufferUploaded(const Transfer& upload, const ParameterBuffer& buffer) {
  if (&upload != upload_.get() && &upload != rampRead_.get()) return;
  files_.Uploaded(buffer);
  UpdateMenus();
  if (&upload == upload_.get()) {
    HideProgress();
    TellLater(app::ToQString(ModelVersionText(files_.buffer())) + app::QText(Msg::ParametersUploaded),
              app::QText(Msg::UploadDone));
  }
}

void ParameterFiles::TransferEnded(const Transfer& transfer, TransferEnd end) {
  const bool completed = end == TransferEnd::Completed;
  const bool ours = &transfer == upload_.get() || &transfer == download_.get() ||
                    &transfer == rampRead_.get() || &transfer == rampWrite_.get();
  // A download that stopped before its end has left a mix of parameters.
  const QString partWay = &transfer == download_.get() && !completed
                              ? app::ToQString(PartWayText(static_cast<const WriteSequence&>(transfer)))
                              : QString();
  if (ours && end == TransferEnd::Aborted) {
    // Given up after repeated exception answers (a controller refusing its
    // writes, say): the status line may be hidden, so the reason is told.
    const bool ramp = &transfer == rampRead_.get() || &transfer == rampWrite_.get();
    const QString status = app::ToQString(engine_.statusText());
    TellLater(partWay.isEmpty() ? status : status + QStringLiteral("\n\n") + partWay, StandardCaption(),
              ramp && rampEditor_ ? rampEditor_.data() : window_);
  } else if (!partWay.isEmpty() && window_->isVisible()) {
    // The controller fell silent or went away part-way.
    TellLater(partWay, StandardCaption());
  }
  if (&transfer == upload_.get() || &transfer == download_.get()) {
    // An abandoned transfer leaves no progress line standing.
    HideProgress();
    if (&transfer == upload_.get()) upload_.reset();
    else download_.reset();
  } else if (&transfer == rampRead_.get() || &transfer == rampWrite_.get()) {
    // One end for both ramp/soak transfers; a completed read hands over the program first.
    if (completed && &transfer == rampRead_.get())
      emit RampProgramRead(TableFromController(std::span<const std::uint8_t, 256>(rampRead_->buffer().data(), 256),
                                               rampRead_->steps()));
    else
      emit RampTransferEnded();
    if (&transfer == rampRead_.get()) rampRead_.reset();
    else rampWrite_.reset();
  }
}

}  // namespace kx::monitor
