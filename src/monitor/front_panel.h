// The front-panel picture of the selected controller (`KX11`): a drawn front of
// the KX1 and one of the KX2/KX3 stacked in the same place, the two numeric
// displays, the eight lamps, and the output labels and bars below it.
#pragma once

#include <QLabel>
#include <QWidget>

#include <array>
#include <cstdint>

#include "core/monitor/tile_looks.h"
#include "monitor/monitor_widgets.h"

namespace kx::monitor {

// A drawn controller front. Lamp sockets and their legends sit where the lamp
// widgets of that model are placed.
class FrontPicture : public QWidget {
  Q_OBJECT
 public:
  FrontPicture(QWidget* parent, const QString& name, bool kx1);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool kx1_;
};

class FrontPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDesignWidth = 262;
  static constexpr int kDesignHeight = 248;

  // Design positions of the lamps, in the panel's own design coordinates.
  struct LampRow {
    int at, out1, out2, alarm1, alarm2, alarm3;
  };
  static constexpr LampRow kKx1Lamps{30, 70, 90, 130, 170, 205};
  // The KX2/KX3 front has six lamps: three of them sit further left.
  static constexpr int kAtShift = 5;
  static constexpr int kOut1Shift = 15;
  static constexpr int kAlarm2Shift = 5;
  static constexpr int kLampY = 146;
  static constexpr int kLampSize = 12;

  FrontPanel(QWidget* parent, DesignScaler& scaler);

  // Brings the model's picture to the front and places and shows the lamps.
  void LayoutFor(std::uint8_t modelCode);
  // Empty displays, grey lamps, output labels and bars hidden.
  void Clear();
  // Output labels and bars hidden until the selected device's outputs are read.
  void HideOutputs();
  void SetPv(const QString& text, bool status);
  void SetSv(const QString& text, int fontPt);
  void SetOutputs(const looks::OutputsLook& look);
  void SetLeds(const looks::LedLook& look);
  bool kx1InFront() const { return kx1Front_; }

  FrontPicture* imeA1 = nullptr;  // KX1
  FrontPicture* imeB1 = nullptr;  // KX2/KX3
  QLabel* pvDisp = nullptr;
  QLabel* svDisp = nullptr;
  Lamp* atLed = nullptr;
  Lamp* o1Led = nullptr;
  Lamp* o2Led = nullptr;
  std::array<Lamp*, 3> almLed{};
  Lamp* degC = nullptr;
  Lamp* degF = nullptr;
  std::array<QLabel*, 2> outLb{};
  std::array<LevelBar*, 2> outQty{};

 private:
  void PlaceLamp(Lamp* lamp, int x);
  DesignScaler& scaler_;
  bool kx1Front_ = true;
};

}  // namespace kx::monitor
