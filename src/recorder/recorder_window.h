// The data recorder window PRecord (shown modally from RECODER): up to ten
// controllers sampled on the second port, their newest values, a scrolling
// chart, saving to a record file, replay of a record file and export to CSV.
// The decisions live in core/recorder (RecorderModel over the acquisition,
// chart, replay and record file); this window binds the model to its named
// controls and shows what it says.
#pragma once

#include <QDialog>
#include <QPixmap>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "core/line/comport.h"
#include "core/line/session.h"
#include "core/recorder/acquisition.h"
#include "core/recorder/chart.h"
#include "core/recorder/record_file.h"
#include "core/recorder/recorder_model.h"
#include "core/recorder/replay.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;
class QToolButton;
class QWidget;
class QFrame;

namespace kx::app {
class DropList;
}

namespace kx::recorder {

class ChartView;

// File choices and questions, replaceable in tests. Empty path: cancelled.
struct RecorderDialogs {
  std::function<QString()> saveRecordPath;      // save dialog, record filter
  std::function<QString()> openRecordPath;      // open dialog, record filter
  std::function<QString()> saveCsvPath;         // save dialog, CSV filter
  std::function<bool(const QString& text)> confirm;  // OK/Cancel question
  // Message box with a caption (empty: the application's); OK, or OK and Cancel.
  std::function<void(const QString& text, const QString& caption, bool okCancel)> message;
};

class RecorderWindow : public QDialog,
                       private RecorderObserver,
                       private RecorderTimer,
                       private ChartSurface {
  Q_OBJECT

 public:
  RecorderWindow(Session& session, ComPort& port, QWidget* parent = nullptr);
  ~RecorderWindow() override;

  // The main window hands the second port's events here while the recorder holds the line.
  void PortEvent(const kx::PortEvent& event);
  void LineLost(const std::string& text);

  RecorderDialogs& dialogs() { return dialogs_; }
  // The clock that stamps each completed cycle (local time by default).
  void SetClock(Acquisition::Clock clock) { clock_ = std::move(clock); }

  // For tests and screenshots.
  const RecorderModel& model() const { return *model_; }
  const Acquisition& Acquirer() const { return model_->acquirer(); }
  const ReplayEngine& Replayer() const { return model_->replayer(); }
  const Chart& ChartModel() const { return model_->chartModel(); }
  const Slots& SlotTable() const { return model_->slotTable(); }
  // Computes the chart geometry now (normally done once after showing).
  void LayoutChart();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // Handlers named after the controls they serve.
  void RePlayBtClick();
  void SampleTimeChange();
  void DevicePL0Click(int slot);
  void BGColorChange();
  void SampleTick();  // Timer1: one sampling period
  void LoopCntKeyUp(bool enter);

  void SetBoxColour(int slot, const char* colour);
  // A message shown once the event being handled has returned: never a
  // modal box from inside an engine's event (its own event loop would let
  // the timer and the port run into the engine half-way).
  void TellLater(const QString& text, const QString& caption = QString(), bool okCancel = false);
  // Layout: fonts scaled by the width that fits the window across and down,
  // and the chart fitted to its box (only while it is idle: nothing recorded
  // or replayed).
  int ScaleWidth() const;
  void ScaleControls();
  void FitChart();

  // RecorderObserver
  void LookChanged(const RecorderLook& look) override;
  void RunStarted() override;
  void StatusText(std::string_view text) override;
  void SlotDropped(int slot) override;
  void CounterText(std::string_view text) override;
  void Tell(const RecorderNotice& notice) override;
  void ReplayLoaded() override;
  void ReplayControlsChanged(const ReplayControls& controls) override;
  void TrackBarPosition(long position) override;
  // RecorderTimer
  void StartTimer(int intervalMs) override;
  void StopTimer() override;
  // ChartSurface
  void FillCanvas(Rgb colour) override;
  void Line(int x1, int y1, int x2, int y2, Rgb colour, int width, bool dotted) override;
  void Text(int x, int y, std::string_view text, Rgb colour) override;
  void ScrollLeft(int left, int top, int right, int bottom) override;
  void ValueBox(int slot, std::string_view text) override;
  void SampleTimeText(std::string_view text) override;
  void ScaleFields(int max, int min) override;
  void FellBackToAuto() override;

  RecorderDialogs dialogs_;
  Acquisition::Clock clock_;
  std::unique_ptr<RecorderModel> model_;
  bool chartLaidOut_ = false;

  // Controls, named as the objectNames they carry.
  QToolButton* SaveBt = nullptr;
  QToolButton* RePlayBt = nullptr;
  QToolButton* CsvBt = nullptr;
  QToolButton* ExitBt3 = nullptr;
  QLabel* ExecCntLb = nullptr;
  QLineEdit* LoopCnt = nullptr;
  QFrame* PSampleTime = nullptr;
  QSpinBox* SampleTime = nullptr;
  QLineEdit* SampleEdit = nullptr;
  QLabel* SecPl = nullptr;
  QFrame* BackGndP = nullptr;
  QPushButton* StartBt = nullptr;
  QFrame* DisplayPL = nullptr;
  app::DropList* DisplayMd = nullptr;
  QFrame* MaxPL = nullptr;
  QLineEdit* MaxScale = nullptr;
  QFrame* MinPL = nullptr;
  QLineEdit* MinScale = nullptr;
  QFrame* BGColorPL = nullptr;
  app::DropList* BGColor = nullptr;
  QFrame* PlayPL = nullptr;
  QPushButton* PlayBt = nullptr;
  QPushButton* PauseBt = nullptr;
  QPushButton* StopBt = nullptr;
  QSlider* TrackBar = nullptr;
  ChartView* RecdIme = nullptr;
  std::array<QLabel*, kSlots> DevicePL{};
  QFrame* ComAddrPL = nullptr;
  std::array<QSpinBox*, kSlots> ComAddr{};
  std::array<QLineEdit*, kSlots> PV{};
  QLabel* ErrMess = nullptr;
  QLabel* SampleTimeLb = nullptr;
  QTimer* Timer1 = nullptr;
};

}  // namespace kx::recorder
