// The communication settings window: the PC port settings page (COM port and
// line format, stored in "SETKX.$$$"), with room for the bus search page
// `DetectPL` and, inside it, the controller mode panel `KX3AfterPL`.
//
// The window is created for one showing, shown modally and destroyed when it
// closes. While it is open the main window routes ApdComPortMain to it.
#pragma once

#include <QDialog>

#include <array>

#include "core/comset/bus_search.h"
#include "core/line/session.h"
#include "core/routing/main_routing.h"

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace kx::app {
class RadioGroup;
}

namespace kx::comset {

class SearchPage;

class SettingsWindow : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { Pc, Controller };
  // What exec() returns when controller mode's CLOSE closed the window (the
  // protocol change is left; the main window clears its controller mode).
  static constexpr int kProtocolClosed = 2;

  SettingsWindow(Session& session, MainPortRouting& mainPort, Mode mode, QWidget* parent = nullptr);
  ~SettingsWindow() override;

  Mode mode() const { return mode_; }
  // The COM port chosen on the page (0 when no port exists).
  int currentPort() const { return currentPort_; }
  // OK took a new word but could not write the settings file.
  bool saveFailed() const { return saveFailed_; }
  // The bus search page and controller mode inside `DetectPL`.
  SearchPage* searchPage() const { return page_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void COM1Click(int port);
  void FormatClick();
  void OKBtClick();
  void CancelBtClick();
  void AutoDetectBtClick();

 private:
  QWidget* BuildPcPage();
  QWidget* BuildButtonPanel();
  void FormShow();
  void ShowPcPage();
  // Enables the groups the program sets on the chosen port's line and shows
  // the note naming what a server in between sets instead.
  void ShowLineControls();
  // The format the radio groups show now.
  PresetFormat ChosenFormat() const;

  Session& session_;
  MainPortRouting& mainPort_;
  Mode mode_;
  int currentPort_ = 1;
  bool saveFailed_ = false;

  // PC settings page.
  QWidget* pcPage_ = nullptr;
  std::array<QRadioButton*, Session::kPortSlots> COM{};  // COM[1] .. COM[12]
  app::RadioGroup* Baudrate = nullptr;
  app::RadioGroup* Parity = nullptr;
  app::RadioGroup* DataLen = nullptr;
  app::RadioGroup* StopBit = nullptr;
  app::RadioGroup* Format = nullptr;
  QLabel* ServerNoteLb = nullptr;  // what a network server sets on the chosen port's line

  // Status line, gauge and time-left line of the bus search and the
  // controller mode (hidden on the PC page).
  QLabel* AutoDetectLb = nullptr;
  QProgressBar* DetectBar = nullptr;
  QLabel* TimeStamp = nullptr;
  // Bus search page, laid over the settings groups when shown; holds the
  // controller mode panel KX3AfterPL.
  QFrame* DetectPL = nullptr;
  QFrame* KX3AfterPL = nullptr;
  SearchPage* page_ = nullptr;

  QPushButton* AutoDetectBt = nullptr;
  QPushButton* OKBt = nullptr;
  QPushButton* CancelBt = nullptr;
};

}  // namespace kx::comset
