// The line traffic window `TrafficLog`: every frame on the line as it goes
// (`TrafficView`), paused, cleared and saved in the trace form, and the link
// figures per controller address (`TrafficStats`). It listens to the ports
// through taps while it is shown and never takes the line, so it stays open
// beside the tester, the settings window, the monitor and the recorder.
// What it shows is core/traffic's: the log, its rows and its texts.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/traffic/traffic_log.h"
#include "core/traffic/traffic_taps.h"

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;

namespace kx::traffic {

// The log's kept frames as table rows, brought up to the log in batches.
class TrafficModel final : public QAbstractTableModel {
 public:
  enum Column { kTime, kDirection, kAddress, kFunction, kBytes, kText, kCheck, kReply, kColumns };

  TrafficModel(const TrafficLog& log, std::int64_t toTimeOfDay, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Takes the frames the log dropped or cleared away and adds those it kept
  // since; true when rows were added.
  bool Follow();
  const TrafficRows& rows() const { return rows_; }
  std::int64_t toTimeOfDay() const { return toTimeOfDay_; }

 private:
  const TrafficLog& log_;
  std::int64_t toTimeOfDay_;
  TrafficRows rows_;
};

class TrafficWindow final : public QWidget {
  Q_OBJECT

 public:
  // How often the view takes the new frames, and the quiet time after which
  // a request still waiting shows as unanswered.
  static constexpr int kRefreshMs = 150;
  static constexpr int kQuietRefreshes = 20;  // 3 s
  // The figures and the counter are redrawn at every this many ticks.
  static constexpr int kFiguresEvery = 4;  // 600 ms

  explicit TrafficWindow(std::vector<TrafficSource> sources, QWidget* parent = nullptr);
  ~TrafficWindow() override;

  TrafficLog& log() { return log_; }
  TrafficModel& model() { return *model_; }
  bool listening() const { return taps_.attached(); }
  bool paused() const { return paused_; }

  // Brings everything up to the log: new rows, the figures, the counter.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // One tick of `TrafficTimer`: new rows; the figures at every kFiguresEvery-th.
  void Tick();
  void FollowLog();
  void PauseBtClick();
  void ClearBtClick();
  void SaveBtClick();
  void ShowStats();
  void ShowCount();

  TrafficLog log_;
  TrafficTaps taps_;
  QuietRequest quiet_;
  bool paused_ = false;
  int ticks_ = 0;
  std::uint64_t figuresAt_ = ~std::uint64_t{0};  // Added() when the figures were last drawn

  TrafficModel* model_ = nullptr;
  QTableView* TrafficView = nullptr;
  QTableWidget* TrafficStats = nullptr;
  QPushButton* TrafficPauseBt = nullptr;
  QPushButton* TrafficClearBt = nullptr;
  QPushButton* TrafficSaveBt = nullptr;
  QLabel* TrafficCountLb = nullptr;
  QTimer* TrafficTimer = nullptr;
};

}  // namespace kx::traffic
