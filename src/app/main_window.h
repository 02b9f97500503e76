// The main window: menu and tool bar from which every other window is opened,
// the line-owner check before each action, the settings file read at each
// activation, the two serial ports ApdComPortMain (single command tester and
// communication settings window) and ApdComPort1 (recorder and firmware
// update) with their routing, the tester panel TESTPL, the shared Timer1, the
// two file dialogs other windows borrow, and which windows are open.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>

#include "core/fwupdate/flash_update.h"
#include "core/line/comport.h"
#include "core/line/line_owner.h"
#include "core/routing/main_routing.h"
#include "core/line/session.h"

class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;

namespace kx::traffic {
class TrafficWindow;
}

namespace kx::app {

inline constexpr const char* kMainCaption = "OSTRA CONTROLLER COMMUNICATION PROGRAM (V1.00)";

class TesterPanel;
class UserMessageWindow;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // session.makePort must be set: the two ports are made with it.
  explicit MainWindow(Session& session, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The monitor window, shown by MONITOR (created after the main window).
  void SetMonitorWindow(QWidget* monitor) { monitor_ = monitor; }
  // The line traffic window while it is open (LINE TRAFFIC opens it).
  traffic::TrafficWindow* trafficWindow() const;

  MainPortRouting& mainPortRouting() { return *mainRouting_; }
  SecondPortRouting& secondPortRouting() { return *secondRouting_; }
  Session& session() { return session_; }

  // The tester panel (hidden at start; TESTER shows it).
  TesterPanel* tester() const { return tester_; }
  QTimer* timer1() const { return Timer1; }

  // The tool bar is disabled while the tester holds the line; the menu never is.
  void SetToolBarEnabled(bool enabled);

  // Shows the user message window for a code modally and returns when it has
  // closed (timed codes are closed by Timer1).
  void ShowUserMessage(int code);
  bool UserMessageShowing() const;

  // Which windows are open (Timer1 closes timed notices by them).
  struct OpenWindows {
    // The communication settings window was opened for a controller protocol
    // change; set by SET KX3 and kept after the window closes until SET PC,
    // an activation that opens the settings window, or the window's CLOSE.
    bool controllerMode = false;
    bool firmwareUpdate = false;  // the firmware update window is open
  };
  const OpenWindows& openWindows() const { return open_; }
  // A test starts from a protocol change left open.
  void SetControllerMode(bool on) { open_.controllerMode = on; }

 public slots:
  // The menu and tool-bar actions (SET PC, SET KX3, MONITOR, RECODER, TESTER,
  // F/W UPDATE, LINE TRAFFIC, EXIT, ABOUT).
  void OpenPcSettings();
  void OpenControllerSettings();
  void OpenMonitor();
  void OpenRecorder();
  void OpenTester();
  void OpenFirmwareUpdate();
  // Opens the line traffic window beside whatever holds the line (it takes
  // no line itself, so no line owner refuses it).
  void OpenTraffic();
  void ExitProgram();
  void ShowAbout();
  // Timer1: closes a timed notice while the firmware update or a protocol
  // change runs, and sends again while the tester repeats.
  void Timer1Tick();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Closing the main window (EXIT) ends the application, whatever other
  // top-level windows (the monitor) are still open.
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  void BuildToolBar();
  void BuildClientArea();
  void FormShow();
  void FormActivate();
  // Shows "COM Port In Use !!!" and returns false when the action may not start.
  bool LineAllows(MainAction action);
  // The communication settings window, modally; the main port is routed to it meanwhile.
  void RunSettingsWindow(bool controllerMode);
  void ReportLineLost(const std::string& reason);

  Session& session_;

  std::unique_ptr<ComPort> ApdComPortMain;
  std::unique_ptr<ComPort> ApdComPort1;
  std::unique_ptr<MainPortRouting> mainRouting_;
  std::unique_ptr<SecondPortRouting> secondRouting_;

  QMenuBar* MainMenu1 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QFrame* TESTPL = nullptr;
  TesterPanel* tester_ = nullptr;  // the controls and logic inside TESTPL
  QLabel* KX1 = nullptr;
  QTimer* Timer1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;

  // Kept for the run: what firmware updates learn (the erase extension).
  FlashUpdateMemory firmwareMemory_;

  QPointer<QWidget> monitor_;
  QPointer<traffic::TrafficWindow> traffic_;
  OpenWindows open_;
  QPointer<UserMessageWindow> userMessage_;

  bool inActivate_ = false;
  // OK took a word that could not be written: it stays in force for the run
  // instead of the default word or the protected file's older word, and the
  // settings window does not reopen at every activation.
  bool keepUnsavedWord_ = false;
};

}  // namespace kx::app
