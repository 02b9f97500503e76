#include "monitor/front_panel.h"

#include <QPainter>

namespace kx::monitor {

namespace {

constexpr int kPictureHeight = 196;
constexpr QRect kPvRect{14, 20, 210, 54};
constexpr QRect kSvRect{14, 82, 210, 54};
constexpr int kUnitLampX = 232;
constexpr int kDegCY = 24;
constexpr int kDegFY = 42;
constexpr int kUnitLampSize = 10;
constexpr int kDisplayFontPt = 32;

FrontPanel::LampRow RowFor(bool kx1) {
  FrontPanel::LampRow row = FrontPanel::kKx1Lamps;
  if (!kx1) {
    row.at -= FrontPanel::kAtShift;
    row.out1 -= FrontPanel::kOut1Shift;
    row.alarm2 -= FrontPanel::kAlarm2Shift;
  }
  return row;
}

}  // namespace

FrontPicture::FrontPicture(QWidget* parent, const QString& name, bool kx1)
    : QWidget(parent), kx1_(kx1) {
  setObjectName(name);
}

void FrontPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // Everything is drawn in design coordinates and scaled to the widget.
  painter.scale(width() / double(FrontPanel::kDesignWidth), height() / double(kPictureHeight));

  const QRectF body(1, 1, FrontPanel::kDesignWidth - 2, kPictureHeight - 2);
  painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
  painter.setBrush(kx1_ ? QColor(0x3A, 0x3D, 0x42) : QColor(0x2C, 0x31, 0x38));
  painter.drawRoundedRect(body, 8, 8);
  painter.setPen(QPen(QColor(0x70, 0x74, 0x7A), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(body.adjusted(5, 5, -5, -5), 5, 5);

  // Display window behind the two numeric displays.
  painter.setPen(QPen(QColor(0x10, 0x10, 0x10), 1));
  painter.setBrush(QColor(0x08, 0x08, 0x08));
  painter.drawRect(QRectF(kPvRect.united(kSvRect)).adjusted(-4, -4, 4, 4));

  QFont small = painter.font();
  small.setPixelSize(8);
  small.setBold(true);
  painter.setFont(small);
  painter.setPen(QColor(0xE0, 0xE0, 0xE0));
  painter.drawText(QRectF(kUnitLampX + 11, kDegCY - 2, 18, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("\u00B0C"));
  painter.drawText(QRectF(kUnitLampX + 11, kDegFY - 2, 18, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("\u00B0F"));
  painter.drawText(QRectF(kUnitLampX - 4, kPvRect.bottom() - 12, 30, 12), Qt::AlignCenter,
                   QStringLiteral("PV"));
  painter.drawText(QRectF(kUnitLampX - 4, kSvRect.bottom() - 12, 30, 12), Qt::AlignCenter,
                   QStringLiteral("SV"));

  // Lamp legends under the sockets of this model's lamps.
  const FrontPanel::LampRow row = RowFor(kx1_);
  struct Legend {
    int x;
    const char* text;
    bool shown;
  };
  const Legend legends[] = {{row.at, "AT", true},          {row.out1, "OUT1", true},
                            {row.out2, "OUT2", !kx1_},     {row.alarm1, "ALM1", true},
                            {row.alarm2, "ALM2", true},    {row.alarm3, "ALM3", !kx1_}};
  for (const Legend& legend : legends) {
    if (!legend.shown) continue;
    const double centre = legend.x + FrontPanel::kLampSize / 2.0;
    painter.setPen(QPen(QColor(0x15, 0x15, 0x15), 1));
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawEllipse(QPointF(centre, FrontPanel::kLampY + FrontPanel::kLampSize / 2.0), 8, 8);
    painter.setPen(QColor(0xE0, 0xE0, 0xE0));
    painter.drawText(QRectF(centre - 16, FrontPanel::kLampY + 13, 32, 10), Qt::AlignCenter,
                     QString::fromLatin1(legend.text));
  }

  // Keys along the bottom edge.
  const char* keys[] = {"SET", "\u25C4", "\u25BC", "\u25B2"};
  for (int i = 0; i < 4; ++i) {
    const QRectF key(120 + 34 * i, 174, 28, 15);
    painter.setPen(QPen(QColor(0x15, 0x15, 0x15), 1));
    painter.setBrush(QColor(0x8A, 0x8E, 0x94));
    painter.drawRoundedRect(key, 3, 3);
    painter.setPen(QColor(0x10, 0x10, 0x10));
    painter.drawText(key, Qt::AlignCenter, QString::fromUtf8(keys[i]));
  }
  QFont brand = painter.font();
  brand.setPixelSize(13);
  painter.setFont(brand);
  painter.setPen(QColor(0xF0, 0xF0, 0xF0));
  painter.drawText(QRectF(16, 171, 96, 20), Qt::AlignLeft | Qt::AlignVCenter,
                   kx1_ ? QStringLiteral("KX1") : QStringLiteral("KX2 / KX3"));
}

FrontPanel::FrontPanel(QWidget* parent, DesignScaler& scaler) : QWidget(parent), scaler_(scaler) {
  setObjectName(QStringLiteral("KX11"));
  const QColor grey = ToQColor(looks::kGrey);
  const QColor black = ToQColor(looks::kBlack);

  imeA1 = new FrontPicture(this, QStringLiteral("ImeA1"), true);
  imeB1 = new FrontPicture(this, QStringLiteral("ImeB1"), false);
  for (FrontPicture* picture : {imeA1, imeB1}) {
    scaler.Add(picture, {0, 0, kDesignWidth, kPictureHeight});
  }

  pvDisp = MakeLabel(this, QStringLiteral("PVDisp"), QString(), black, ToQColor(looks::kRed),
                     Qt::AlignRight | Qt::AlignVCenter);
  scaler.Add(pvDisp, kPvRect, kDisplayFontPt);
  svDisp = MakeLabel(this, QStringLiteral("SVDisp"), QString(), black, ToQColor(looks::kGreen),
                     Qt::AlignRight | Qt::AlignVCenter);
  scaler.Add(svDisp, kSvRect, kDisplayFontPt);
  for (QLabel* display : {pvDisp, svDisp}) {
    QFont font = display->font();
    font.setBold(true);
    display->setFont(font);
  }

  atLed = new Lamp(this, QStringLiteral("ATLED"), grey);
  o1Led = new Lamp(this, QStringLiteral("O1LED"), grey);
  o2Led = new Lamp(this, QStringLiteral("O2LED"), grey);
  for (std::size_t i = 0; i < almLed.size(); ++i) {
    almLed[i] = new Lamp(this, QStringLiteral("ALM%1LED").arg(i + 1), grey);
  }
  degC = new Lamp(this, QStringLiteral("DegC"), grey);
  degF = new Lamp(this, QStringLiteral("DegF"), grey);
  scaler.Add(degC, {kUnitLampX, kDegCY, kUnitLampSize, kUnitLampSize});
  scaler.Add(degF, {kUnitLampX, kDegFY, kUnitLampSize, kUnitLampSize});

  const std::array<const char*, 2> labelNames{"O1Lb", "O2Lb"};
  const std::array<const char*, 2> barNames{"Out1Qty", "Out2Qty"};
  const std::array<looks::Rgb, 2> labelColours{looks::kRed, looks::kBlue};
  const std::array<looks::Rgb, 2> barColours{looks::kFuchsia, looks::kSkyBlue};
  for (std::size_t i = 0; i < outLb.size(); ++i) {
    const int y = 204 + 22 * static_cast<int>(i);
    outLb[i] = MakeLabel(this, QString::fromLatin1(labelNames[i]), QStringLiteral("Out%1").arg(i + 1),
                         ToQColor(labelColours[i]), ToQColor(looks::kWhite));
    scaler.Add(outLb[i], {0, y, 40, 18}, 8);
    outQty[i] = new LevelBar(this, QString::fromLatin1(barNames[i]), ToQColor(barColours[i]));
    scaler.Add(outQty[i], {44, y, kDesignWidth - 44, 18});
  }

  // Design positions are those of the KX1 front.
  const LampRow row = RowFor(true);
  PlaceLamp(atLed, row.at);
  PlaceLamp(o1Led, row.out1);
  PlaceLamp(o2Led, row.out2);
  PlaceLamp(almLed[0], row.alarm1);
  PlaceLamp(almLed[1], row.alarm2);
  PlaceLamp(almLed[2], row.alarm3);
  LayoutFor(kx::kModelKx1);
  Clear();
}

void FrontPanel::PlaceLamp(Lamp* lamp, int x) {
  const QRect rect{x, kLampY, kLampSize, kLampSize};
  if (scaler_.Design(lamp).isNull()) {
    scaler_.Add(lamp, rect);
  } else {
    scaler_.Move(lamp, rect);
    if (scaler_.width() > 0) scaler_.ApplyTo(lamp, scaler_.width());
  }
}

void FrontPanel::LayoutFor(std::uint8_t modelCode) {
  kx1Front_ = modelCode == kx::kModelKx1;
  (kx1Front_ ? imeA1 : imeB1)->raise();
  // The displays and lamps stay above whichever picture is in front.
  for (QWidget* widget : std::initializer_list<QWidget*>{pvDisp, svDisp, atLed, o1Led, o2Led,
                                                         almLed[0], almLed[1], almLed[2], degC,
                                                         degF}) {
    widget->raise();
  }
  const LampRow row = RowFor(kx1Front_);
  PlaceLamp(atLed, row.at);
  PlaceLamp(o1Led, row.out1);
  PlaceLamp(almLed[1], row.alarm2);
  o2Led->setVisible(!kx1Front_);
  almLed[2]->setVisible(!kx1Front_);
}

void FrontPanel::Clear() {
  pvDisp->clear();
  svDisp->clear();
  for (Lamp* lamp : {atLed, o1Led, o2Led, almLed[0], almLed[1], almLed[2], degC, degF}) {
    lamp->SetColour(ToQColor(looks::kGrey));
  }
  HideOutputs();
}

void FrontPanel::HideOutputs() {
  for (std::size_t i = 0; i < outLb.size(); ++i) {
    outLb[i]->hide();
    outQty[i]->hide();
  }
}

void FrontPanel::SetPv(const QString& text, bool status) {
  scaler_.SetFont(pvDisp, status ? 14 : kDisplayFontPt);
  pvDisp->setAlignment(status ? Qt::AlignCenter : (Qt::AlignRight | Qt::AlignVCenter));
  pvDisp->setText(text);
}

void FrontPanel::SetSv(const QString& text, int fontPt) {
  scaler_.SetFont(svDisp, fontPt);
  svDisp->setText(text);
}

void FrontPanel::SetOutputs(const looks::OutputsLook& look) {
  for (std::size_t i = 0; i < outLb.size(); ++i) {
    const looks::OutputLook& out = look.out[i];
    outLb[i]->setVisible(out.visible);
    outQty[i]->setVisible(out.visible);
    SetBackground(outLb[i], ToQColor(out.label));
    outQty[i]->SetColour(ToQColor(out.bar));
    outQty[i]->SetValue(out.value);
  }
}

void FrontPanel::SetLeds(const looks::LedLook& look) {
  atLed->SetColour(ToQColor(look.at));
  o1Led->SetColour(ToQColor(look.out1));
  o2Led->SetColour(ToQColor(look.out2));
  for (std::size_t i = 0; i < almLed.size(); ++i) almLed[i]->SetColour(ToQColor(look.alarm[i]));
  degC->SetColour(ToQColor(look.degC));
  degF->SetColour(ToQColor(look.degF));
}

}  // namespace kx::monitor
