// The firmware update window for KX2 and KX3 controllers (shown modally from
// F/W UPDATE): OPEN FILE loads and checks a firmware file, UPDATE flashes it
// through the controller's loader on the main window's second port, with the
// status texts, colours and progress of the update.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

#include "core/fwupdate/firmware_file.h"
#include "core/fwupdate/flash_update.h"
#include "core/line/session.h"

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace kx::fwupdate {

inline constexpr int kDesignWidth = 450;

class FwUpdateWindow : public QDialog {
  Q_OBJECT

 public:
  // Asks the user for a firmware file; an empty text means Cancel.
  using ChooseFile = std::function<QString()>;

  // `line` is the port the update runs on (the main window's ApdComPort1);
  // `memory` keeps what the update learns for the rest of the run.
  FwUpdateWindow(Session& session, ComPort& line, FlashUpdateMemory& memory, ChooseFile chooseFile,
                 QWidget* parent = nullptr);
  ~FwUpdateWindow() override;

  // The events of the update's port, routed here while the window is open.
  void OnPortEvent(const PortEvent& event);
  // The port failed while open and closed itself.
  void OnLineLost();

  const FlashUpdate& update() const { return *update_; }
  // The image UPDATE would flash (only after a file passed every check).
  const std::optional<FirmwareImage>& image() const { return image_; }

 public slots:
  void OpenBtClick();
  void UpDateBtClick();
  void CloseBtClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  void FormShow();
  void FormClose();
  void ShowUpdate();
  void HandleNotices();
  // The note for the update's port, and whether UPDATE may be offered there.
  void ShowLineNote();
  bool UpdateOffered() const;

  Session& session_;
  ChooseFile chooseFile_;
  std::unique_ptr<FlashUpdate> update_;
  std::optional<FirmwareImage> image_;
  bool closed_ = false;
  bool lineAllowed_ = true;  // the port's line can carry the loader (FirmwareLineOf)

  QPushButton* OpenBt = nullptr;
  QLabel* FileName = nullptr;
  QPushButton* UpDateBt = nullptr;
  QLabel* ErrMess = nullptr;
  QFrame* InfoPl = nullptr;
  QLabel* ModelLb = nullptr;
  QLineEdit* ModelN = nullptr;
  QLabel* CheckLb = nullptr;
  QLineEdit* ChecksumN = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* FWLb = nullptr;
  QLineEdit* FWVER = nullptr;
  QLabel* AddrLb = nullptr;
  QSpinBox* Addr1 = nullptr;
  QLabel* LineNoteLb = nullptr;  // what a network server in between means for the update
  QProgressBar* ProgressBar = nullptr;
  QPushButton* CloseBt = nullptr;
};

}  // namespace kx::fwupdate
