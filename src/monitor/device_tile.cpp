#include "monitor/device_tile.h"

namespace kx::monitor {

namespace {

using looks::Rgb;

QString Named(const char* base, int index) { return QString::fromLatin1(base).arg(index); }

void Tag(QObject* object, int index) { object->setProperty("tag", index); }

}  // namespace

DeviceTile::DeviceTile(QWidget* parent, int index, DesignScaler& scaler)
    : QWidget(parent), index_(index), scaler_(scaler) {
  setObjectName(Named("Tile%1", index));
  const QColor silver = ToQColor(looks::kSilver);
  const QColor grey = ToQColor(looks::kGrey);
  const QColor teal = ToQColor(looks::kTeal);
  const QColor moneyGreen = ToQColor(looks::kMoneyGreen);
  const QColor cream = ToQColor(looks::kCream);
  const QColor white = ToQColor(looks::kWhite);
  const QColor black = ToQColor(looks::kBlack);

  selPanel = new RoundFrame(this, Named("SelPanel%1", index), silver, 2, QColor());
  scaler.Add(selPanel, {0, 0, kDesignWidth, kDesignHeight});

  adrLb = new ClickLabel(this, Named("Adr%1Lb", index), QStringLiteral("Address"));
  adrLb->setAlignment(Qt::AlignCenter);
  SetBackground(adrLb, grey);
  SetTextColour(adrLb, white);
  Tag(adrLb, index);
  scaler.Add(adrLb, {8, 8, 60, 22}, 8);

  comAddr = new QSpinBox(this);
  comAddr->setObjectName(Named("ComAddr%1", index));
  comAddr->setRange(1, 247);
  comAddr->setValue(1);
  SetBackground(comAddr, moneyGreen);
  Tag(comAddr, index);
  scaler.Add(comAddr, {72, 8, 54, 22}, 9);

  runBt = new QPushButton(QStringLiteral("Connect"), this);
  runBt->setObjectName(Named("RunBt%1", index));
  Tag(runBt, index);
  scaler.Add(runBt, {132, 7, 74, 24}, 9);

  statusBg = new RoundFrame(this, Named("StatusBG%1", index), ToQColor(looks::kNavy), 1,
                            ToQColor(looks::kNavy));
  scaler.Add(statusBg, {222, 4, 32, 30});
  runLed = new Lamp(statusBg, Named("RunLED%1", index), grey);
  scaler.Add(runLed, {7, 6, 18, 18});

  pvPl = MakeLabel(this, Named("PVPL%1", index), QStringLiteral(" PV"), teal, white,
                   Qt::AlignLeft | Qt::AlignTop);
  scaler.Add(pvPl, {8, 36, 126, 42}, 8);
  pv = MakeLabel(pvPl, Named("PV%1", index), QStringLiteral("0"), black, ToQColor(looks::kRed),
                 Qt::AlignRight | Qt::AlignVCenter);
  scaler.Add(pv, {24, 5, 80, 32}, kPvNumberPt);
  degLb = MakeLabel(pvPl, Named("DegLb%1", index), QStringLiteral("C"), QColor(),
                    ToQColor(looks::kYellow), Qt::AlignCenter);
  scaler.Add(degLb, {105, 5, 20, 16}, 8);

  svPl = MakeLabel(this, Named("SVPL%1", index), QStringLiteral(" SV"), moneyGreen, black,
                   Qt::AlignLeft | Qt::AlignTop);
  scaler.Add(svPl, {138, 36, 118, 42}, 8);
  sv = MakeLabel(svPl, Named("SV%1", index), QStringLiteral("0"), black, ToQColor(looks::kLime),
                 Qt::AlignRight | Qt::AlignVCenter);
  scaler.Add(sv, {24, 5, 88, 32}, 10);

  const std::array<const char*, 2> outLabelNames{"O1Lb%1", "O2Lb%1"};
  const std::array<const char*, 2> outBarNames{"OUT1%1", "OUT2%1"};
  const std::array<Rgb, 2> labelColours{looks::kRed, looks::kBlue};
  const std::array<Rgb, 2> barColours{looks::kFuchsia, looks::kSkyBlue};
  for (std::size_t i = 0; i < outLb.size(); ++i) {
    const int y = 84 + 20 * static_cast<int>(i);
    outLb[i] = MakeLabel(this, Named(outLabelNames[i], index), QStringLiteral("Out%1").arg(i + 1),
                         ToQColor(labelColours[i]), white);
    scaler.Add(outLb[i], {8, y, 38, 16}, 8);
    outBar[i] = new LevelBar(this, Named(outBarNames[i], index), ToQColor(barColours[i]));
    scaler.Add(outBar[i], {50, y, 84, 16});
  }

  alarmPl = MakeLabel(this, Named("AlarmPl%1", index), QString(), cream, QColor());
  scaler.Add(alarmPl, {138, 82, 118, 38});
  for (std::size_t i = 0; i < almLed.size(); ++i) {
    const int x = 39 * static_cast<int>(i);
    almLed[i] = new Lamp(alarmPl, QStringLiteral("ALM%1LED%2").arg(i + 1).arg(index), silver);
    scaler.Add(almLed[i], {13 + x, 3, 14, 14});
    almLb[i] = MakeLabel(alarmPl, QStringLiteral("ALM%1LB%2").arg(i + 1).arg(index),
                         QStringLiteral("Alarm %1").arg(i + 1), QColor(), ToQColor(looks::kRed));
    scaler.Add(almLb[i], {1 + x, 19, 38, 16}, 7);
  }

  statusPl = MakeLabel(this, Named("StatusPl%1", index), QString(), cream, QColor());
  scaler.Add(statusPl, {138, 82, 118, 38});
  for (std::size_t i = 0; i < eventLed.size(); ++i) {
    eventLed[i] = new Lamp(statusPl, QStringLiteral("EV%1LED%2").arg(i + 1).arg(index), silver);
    scaler.Add(eventLed[i], {8 + 22 * static_cast<int>(i), 12, 14, 14});
  }
  currentLb = MakeLabel(statusPl, Named("CTLb%1", index), QStringLiteral("CT = 0A"), QColor(),
                        QColor());
  scaler.Add(currentLb, {52, 10, 62, 18}, 8);

  Reset();
}

void DeviceTile::Reset() {
  SetActive(false);
  // Back to the initial look: the number font in the PV field, and the alarm
  // lamps 1 and 2 that a KX3 may have hidden shown again like on any idle tile.
  SetPv(QStringLiteral("0"), kPvNumberPt);
  sv->setText(QStringLiteral("0"));
  for (std::size_t i = 0; i < outLb.size(); ++i) {
    outLb[i]->hide();
    outBar[i]->hide();
    outBar[i]->SetValue(0);
  }
  statusPl->hide();
  for (std::size_t i = 0; i < almLed.size(); ++i) {
    almLed[i]->setVisible(i < 2);
    almLb[i]->setVisible(i < 2);
  }
  for (Lamp* lamp : almLed) lamp->SetColour(ToQColor(looks::kSilver));
  for (Lamp* lamp : eventLed) lamp->SetColour(ToQColor(looks::kSilver));
  currentLb->setText(QStringLiteral("CT = 0A"));
  selPanel->SetPenColour(ToQColor(looks::kSilver));
}

void DeviceTile::SetActive(bool active) {
  SetRunLamp(active ? kx::RunLamp::Good : kx::RunLamp::Off);
  SetBackground(adrLb, ToQColor(active ? looks::kSkyBlue : looks::kGrey));
  SetTextColour(adrLb, ToQColor(active ? looks::kBlack : looks::kWhite));
  runBt->setText(active ? QStringLiteral("Cancel") : QStringLiteral("Connect"));
}

void DeviceTile::SetSelected(bool selected) {
  selPanel->SetPenColour(ToQColor(selected ? looks::kYellow : looks::kSilver));
}

void DeviceTile::SetRunLamp(kx::RunLamp lamp) {
  runLed->SetColour(ToQColor(looks::RunLampColour(lamp)));
}

void DeviceTile::SetPv(const QString& text, int fontPt) {
  scaler_.SetFont(pv, fontPt);
  pv->setText(text);
}

void DeviceTile::SetSv(const QString& text) { sv->setText(text); }

void DeviceTile::SetOutputs(const looks::OutputsLook& look) {
  for (std::size_t i = 0; i < outLb.size(); ++i) {
    const looks::OutputLook& out = look.out[i];
    outLb[i]->setVisible(out.visible);
    outBar[i]->setVisible(out.visible);
    SetBackground(outLb[i], ToQColor(out.label));
    outBar[i]->SetColour(ToQColor(out.bar));
    outBar[i]->SetValue(out.value);
  }
  for (std::size_t i = 0; i < almLed.size(); ++i) {
    almLed[i]->setVisible(look.alarmVisible[i]);
    almLb[i]->setVisible(look.alarmVisible[i]);
  }
}

void DeviceTile::SetLeds(const looks::LedLook& look) {
  for (std::size_t i = 0; i < almLed.size(); ++i) almLed[i]->SetColour(ToQColor(look.tileAlarm[i]));
  degLb->setText(QString::fromStdString(look.unit));
}

}  // namespace kx::monitor
