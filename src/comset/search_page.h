// The bus search page `DetectPL` of the communication settings window and,
// inside it, the controller mode panel `KX3AfterPL`. The page binds its named
// controls to kx::BusSearch (PC mode: find controllers and take a found row's
// settings over) and kx::ProtocolChange (controller mode: change a KX3's
// address and format). It fills the two frames the settings window created.
#pragma once

#include <QObject>

#include <array>
#include <functional>

#include "core/comset/bus_search.h"
#include "core/routing/main_routing.h"
#include "core/comset/protocol_change.h"
#include "core/line/session.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace kx::comset {

class SearchPage : public QObject {
  Q_OBJECT

 public:
  enum class Mode { Pc, Controller };

  // What the page needs of its window.
  struct Link {
    QFrame* detectPanel = nullptr;  // `DetectPL`
    QFrame* afterPanel = nullptr;   // `KX3AfterPL`, a child of `DetectPL`
    QLabel* status = nullptr;       // `AutoDetectLb`
    QProgressBar* gauge = nullptr;  // `DetectBar`
    QLabel* timeLeft = nullptr;     // `TimeStamp`
    std::function<int()> currentPort;                          // COM port chosen on the settings page
    std::function<void(const PresetFormat&)> takeSettings;     // PC mode SET: radio groups := format
    std::function<void(bool searchPageShown)> showSearchPage;  // swap settings groups and `DetectPL`
    std::function<void()> closeWindow;                       // controller mode CLOSE: leaves the controller mode
    std::function<PresetFormat()> currentFormat;             // line format chosen on the settings page
  };

  SearchPage(Session& session, MainPortRouting& routing, Mode mode, Link link, QObject* parent);
  // A search or change still holding the line when the window goes (OK, Escape)
  // gives it back.
  ~SearchPage() override;

  // PC mode, "Auto Detect": opens the search page.
  void AutoDetectBtClick();
  // Controller mode, on showing the window: the page with `KX3AfterPL`.
  void ShowControllerMode();
  // The window's Cancel: ends a running search and frees the line.
  void CancelWindow();

  BusSearch& search() { return search_; }
  ProtocolChange& change() { return change_; }

 private slots:
  void SetStartBtClick();
  void ResultTableSelectCell(int row, int column);
  void SETBtClick();
  void AddrPreSetCloseUp();
  void SetCloseBtClick();
  void BeforeAddrChange();

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void Build();
  void SizeColumns();
  QComboBox* List(QWidget* parent, const PresetList& list);
  SearchPresets ReadPresets() const;
  void ShowPresets(const SearchPresets& presets);
  PresetFormat ReadAfter() const;
  void ShowAfter(const PresetFormat& after);
  void ShowSearch();
  void ShowChange();
  void ClearResults();
  // The error box, shown once the engine's step has returned.
  void ShowErrorLater(const std::string& text);
  int CurrentPort() const { return link_.currentPort ? link_.currentPort() : 0; }
  PresetFormat CurrentFormat() const { return link_.currentFormat ? link_.currentFormat() : PresetFormat{}; }
  // PC mode: behind a server whose line format is fixed, the format lists show
  // the format chosen in PC settings and are off, with the note saying why.
  void ShowLineLimits();
  // The format lists (baud, length, parity, stop bits, form).
  std::array<QComboBox*, 5> FormatLists() const;

  Session& session_;
  MainPortRouting& routing_;
  Mode mode_;
  Link link_;
  BusSearch search_;
  ProtocolChange change_;
  bool closing_ = false;     // the window's controls may be gone: show nothing
  bool gridUpdate_ = false;  // the search is writing result cells: selections are ignored
  int beforeAccepted_ = 1;
  int afterAccepted_ = 1;
  LineTransport transport_ = LineTransport::Device;  // of the port the page was opened for
  bool formatFixed_ = false;                         // the format lists are held at the PC settings' format

  QLabel* LineNoteLb = nullptr;  // why only addresses are searched (a server's fixed format)

  QLabel* ProtocolTitle1 = nullptr;
  QComboBox* AddrPreSet = nullptr;
  QLineEdit* BeforeAddr = nullptr;
  QComboBox* BaudPreSet = nullptr;
  QComboBox* LengthPreSet = nullptr;
  QLabel* ProtocolTitle2 = nullptr;
  QComboBox* ParityPreSet = nullptr;
  QComboBox* StopPreSet = nullptr;
  QComboBox* ProtocolPreSet = nullptr;
  QTableWidget* ResultTable = nullptr;
  QPushButton* SetStartBt = nullptr;
  QPushButton* SETBt = nullptr;
  QPushButton* SetCloseBt = nullptr;

  QLabel* AFTERLB = nullptr;
  QLineEdit* AfterAddr = nullptr;
  QComboBox* AfterBaud = nullptr;
  QComboBox* AfterLength = nullptr;
  QComboBox* AfterParity = nullptr;
  QComboBox* AfterStop = nullptr;
  QComboBox* AfterProtocol = nullptr;
  QCheckBox* SyncChk = nullptr;
};

}  // namespace kx::comset
