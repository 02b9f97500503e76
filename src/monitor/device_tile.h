// One device tile of the monitor: address, connect button, run lamp, PV and SV
// fields, output bars and alarm lamps of one controller (devices 0 to 3). The
// controls carry the names of the tile with the tile's digit (`RunBt2`, ...).
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

#include <array>

#include "core/monitor/tile_looks.h"
#include "monitor/monitor_widgets.h"

namespace kx::monitor {

class DeviceTile : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDesignWidth = 264;
  static constexpr int kDesignHeight = 124;
  static constexpr int kPvNumberPt = 10;  // PV field font for a number (8 for a status text)

  DeviceTile(QWidget* parent, int index, DesignScaler& scaler);

  int index() const { return index_; }

  // Inactive look, "0" in PV (number font) and SV, outputs hidden at 0, alarms 1
  // and 2 shown and alarm 3 hidden, lamps silver, status panel hidden, frame silver.
  void Reset();
  // Connected: lime lamp, sky-blue address label, "Cancel"; else grey and "Connect".
  void SetActive(bool active);
  void SetSelected(bool selected);
  void SetRunLamp(kx::RunLamp lamp);
  // PV text with its font size (8 for a status text, 10 for a number; scaled).
  void SetPv(const QString& text, int fontPt);
  void SetSv(const QString& text);
  void SetOutputs(const looks::OutputsLook& look);
  void SetLeds(const looks::LedLook& look);

  // Controls (owned by the Qt parent chain).
  RoundFrame* selPanel = nullptr;
  ClickLabel* adrLb = nullptr;
  QSpinBox* comAddr = nullptr;
  QPushButton* runBt = nullptr;
  RoundFrame* statusBg = nullptr;
  Lamp* runLed = nullptr;
  QLabel* pvPl = nullptr;
  QLabel* pv = nullptr;
  QLabel* degLb = nullptr;
  QLabel* svPl = nullptr;
  QLabel* sv = nullptr;
  std::array<QLabel*, 2> outLb{};
  std::array<LevelBar*, 2> outBar{};
  QLabel* alarmPl = nullptr;
  std::array<Lamp*, 3> almLed{};
  std::array<QLabel*, 3> almLb{};
  QLabel* statusPl = nullptr;
  std::array<Lamp*, 2> eventLed{};
  QLabel* currentLb = nullptr;

 private:
  int index_;
  DesignScaler& scaler_;
};

}  // namespace kx::monitor
