// The monitor window `PMonitor`: four device tiles, the front-panel picture of
// the selected controller, the diagnostics strip with the status line, the menu,
// and the parameter panel area. The window owns its own serial port (made by the
// session) and the polling engine; it binds the controls to the engine and
// copies the engine's decoded values onto the controls through the looks rules.
#pragma once

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>

#include <array>
#include <memory>

#include "core/monitor/monitor_engine.h"
#include "core/line/session.h"
#include "monitor/device_tile.h"
#include "monitor/front_panel.h"
#include "monitor/monitor_widgets.h"
#include "monitor/parameter_panel.h"
#include "monitor/trend_view.h"
#include "core/monitor/trend.h"

class QTimer;

namespace kx::monitor {

class ParameterFiles;

class MonitorWindow : public QMainWindow, private MonitorObserver {
  Q_OBJECT
 public:
  static constexpr int kDesignHeight = 566;  // below the menu bar, without the strip
  static constexpr int kStripHeight = 46;    // diagnostics strip and status line

  explicit MonitorWindow(Session& session, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  MonitorEngine& engine() { return *engine_; }
  ComPort& port() { return *port_; }
  DeviceTile* Tile(int n) { return tiles_.at(static_cast<std::size_t>(n)); }
  FrontPanel* frontPanel() { return front_; }
  ParameterPanel* parameterPanel() { return panel_; }
  TrendView* trendView() { return trendView_; }
  // The FILE and PARAMETERS commands; app connects the ramp/soak editor to them.
  ParameterFiles& parameterFiles() { return *files_; }
  const trend::Trend& trend() const { return trend_; }
  bool trendShown() const { return trendShown_; }
  // VIEW > PV RECORD and VIEW > SETTING.
  void ShowTrend();
  void ShowSettings();
  // One tick of `Timer1`: sample every connected device and draw.
  void SampleTrend();

  // "probe on" / "probe off": shows or hides the diagnostics strip and status line.
  void SetDiagnosticsVisible(bool visible);
  bool diagnosticsVisible() const { return stripVisible_; }
  // Width the controls are scaled for: the width that fits the window across
  // and down (less a vertical scroll bar in a window too small for that).
  int ScaleWidth() const { return scaler_.width(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // MonitorObserver
  void ConnectionChanged(int device, bool connected) override;
  void SelectionChanged(int oldDevice, int newDevice) override;
  void DeviceUpdated(int device, unsigned changes) override;
  void StatusLine(std::string_view text, StatusTone tone) override;
  void ParametersRead(int type, const RegBlock& block,
                      std::span<const std::uint16_t> words) override;
  void PanelLayout() override;
  void HideCalibration() override;
  void SecurityPoll(int device) override;
  void FrontPanelClear() override;
  void EngineRunning(bool running) override;
  void MenusChanged(const MonitorMenus& menus) override;
  // Transfers belong to the parameter files and the ramp/soak editor.
  void TransferProgress(const Transfer& transfer) override;
  void ParameterBufferUploaded(const Transfer& upload, const ParameterBuffer& buffer) override;
  void TransferEnded(const Transfer& transfer, TransferEnd end) override;
  void PortError(std::string_view text) override;
  void CloseWindow() override;

  // Hands the engine an event the user or the window itself caused: a device
  // disconnected meanwhile was not dropped.
  void Ask(const MonitorEvent& event);
  void ShowDropReasons();
  void BuildMenu();
  void BuildStrip(QWidget* client);
  void BuildParameterArea(QWidget* client);
  void Relayout();
  // Scales the controls for `width` and places them and the trend in a room
  // of roomWidth x roomHeight.
  void PlaceClient(int width, int roomWidth, int roomHeight);
  void ShowPvSv(int device);
  void ShowOutputs(int device);
  void ShowLeds(int device);
  void ShowProgram(int device);
  void ShowCounters();
  void ShowDiagnostics(int device);
  void DrawTrendFully();
  bool IsSelected(int device) const { return engine_->SelectedDevice() == device; }

  Session& session_;
  std::unique_ptr<ComPort> port_;
  std::unique_ptr<MonitorEngine> engine_;
  DesignScaler scaler_;
  bool stripVisible_ = false;
  bool paraShown_ = false;         // `ParaPL` was shown since the first connect
  bool closing_ = false;
  bool asking_ = false;            // inside Ask: disconnects are the user's
  std::string lastStatus_;         // the engine's last status or port error text
  // Why each tile was dropped (empty while it is connected or was
  // disconnected by the user); shown in its tool tip and the status bar.
  std::array<QString, kMonitorDevices> dropReason_{};

  QScrollArea* scroll_ = nullptr;
  QWidget* client_ = nullptr;  // the scroll area's widget, the whole room
  QWidget* stage_ = nullptr;   // the scaled controls, centred in the room
  std::array<DeviceTile*, kMonitorDevices> tiles_{};
  FrontPanel* front_ = nullptr;

  // Diagnostics strip.
  QWidget* debugPl_ = nullptr;
  std::array<QPushButton*, kMonitorDevices> clrBt_{};
  std::array<QLabel*, kMonitorDevices> execCnt_{};
  std::array<QLabel*, kMonitorDevices> errCnt_{};
  QLabel* coldShow_ = nullptr;
  QLabel* uv_ = nullptr;
  QLabel* errMessage_ = nullptr;
  QLabel* dropMessage_ = nullptr;  // in the status bar: why tiles were dropped

  // Parameter panel and trend area, which share the lower half.
  ParameterPanel* panel_ = nullptr;
  QWidget* paraPl_ = nullptr;
  TrendView* trendView_ = nullptr;
  QWidget* drawIme_ = nullptr;
  QTimer* timer1_ = nullptr;
  trend::Trend trend_;
  bool trendShown_ = false;

  // Menu.
  QMenu* file1_ = nullptr;
  QAction* open1_ = nullptr;
  QAction* save1_ = nullptr;
  QAction* saveAs1_ = nullptr;
  QMenu* device2_ = nullptr;
  std::array<QAction*, kMonitorDevices> deviceItems_{};
  QMenu* parameter1_ = nullptr;
  QAction* upload1_ = nullptr;
  QAction* download1_ = nullptr;
  QAction* writeAll_ = nullptr;
  QAction* rampSoak_ = nullptr;
  QMenu* view1_ = nullptr;
  QAction* setting1_ = nullptr;
  QAction* record1_ = nullptr;
  QMenu* close1_ = nullptr;
  QAction* close2_ = nullptr;
  QAction* cancel1_ = nullptr;

  // FILE and PARAMETERS commands on the parameter buffer, the ramp/soak editor.
  ParameterFiles* files_ = nullptr;
};

}  // namespace kx::monitor
