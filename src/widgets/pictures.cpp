#include "widgets/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <string_view>

namespace kx::app {

namespace {

constexpr int kIconSize = 32;

QPixmap Blank(QSize size) {
  QPixmap pm(size);
  pm.fill(Qt::transparent);
  return pm;
}

// Segments a..g of the digits 0-9 (bit 0 = a ... bit 6 = g).
constexpr std::array<unsigned, 10> kSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One seven-segment digit in `r`; unlit segments drawn faintly.
void SevenSegDigit(QPainter& p, const QRectF& r, int digit, const QColor& on, bool point) {
  const double w = r.width();
  const double h = r.height();
  const double t = w * 0.18;  // segment thickness
  const double x0 = r.left();
  const double y0 = r.top();
  const double mid = y0 + h / 2;
  // a, b, c, d, e, f, g as rectangles.
  const std::array<QRectF, 7> seg{{
      QRectF(x0 + t, y0, w - 2 * t, t),
      QRectF(x0 + w - t, y0 + t * 0.6, t, h / 2 - t * 1.1),
      QRectF(x0 + w - t, mid + t * 0.5, t, h / 2 - t * 1.1),
      QRectF(x0 + t, y0 + h - t, w - 2 * t, t),
      QRectF(x0, mid + t * 0.5, t, h / 2 - t * 1.1),
      QRectF(x0, y0 + t * 0.6, t, h / 2 - t * 1.1),
      QRectF(x0 + t, mid - t / 2, w - 2 * t, t),
  }};
  QColor off = on;
  off.setAlpha(28);
  const unsigned bits = digit >= 0 && digit <= 9 ? kSegments[static_cast<std::size_t>(digit)] : 0;
  p.setPen(Qt::NoPen);
  for (std::size_t i = 0; i < seg.size(); ++i) {
    p.setBrush((bits >> i) & 1U ? on : off);
    p.drawRoundedRect(seg[i], t / 3, t / 3);
  }
  if (point) {
    p.setBrush(on);
    p.drawEllipse(QRectF(x0 + w + t * 0.4, y0 + h - t, t, t));
  }
}

// A number like "123.4" as seven-segment digits filling `r`.
void SevenSegText(QPainter& p, const QRectF& r, std::string_view text, const QColor& on) {
  int digits = 0;
  for (char c : text)
    if (c != '.') ++digits;
  if (digits == 0) return;
  const double cell = r.width() / digits;
  const double w = cell * 0.72;
  double x = r.left() + (cell - w) / 2;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.') continue;
    const bool point = i + 1 < text.size() && text[i + 1] == '.';
    const int d = text[i] == ' ' ? -1 : text[i] - '0';
    SevenSegDigit(p, QRectF(x, r.top(), w, r.height()), d, on, point);
    x += cell;
  }
}

void IconMonitor(QPainter& p, const QColor& screen) {
  p.setPen(QPen(QColor(60, 60, 70), 1.5));
  p.setBrush(QColor(200, 205, 215));
  p.drawRoundedRect(QRectF(3, 4, 26, 18), 2, 2);
  p.setBrush(screen);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(5.5, 6.5, 21, 13));
  p.setBrush(QColor(120, 125, 135));
  p.drawRect(QRectF(13, 22, 6, 4));
  p.drawRoundedRect(QRectF(8, 26, 16, 3), 1, 1);
}

void DrawIcon(QPainter& p, ToolIcon icon) {
  p.setRenderHint(QPainter::Antialiasing);
  switch (icon) {
    case ToolIcon::SetPc: {
      IconMonitor(p, QColor(40, 110, 200));
      // A serial plug on the screen.
      p.setBrush(QColor(250, 250, 250));
      p.drawRoundedRect(QRectF(9, 9, 14, 7), 2, 2);
      p.setBrush(QColor(40, 110, 200));
      for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(11.5 + i * 3, 12.5), 0.9, 0.9);
      break;
    }
    case ToolIcon::SetKx3: {
      p.setPen(QPen(QColor(40, 40, 40), 1.2));
      p.setBrush(QColor(70, 72, 80));
      p.drawRoundedRect(QRectF(3, 5, 22, 22), 2, 2);
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::black);
      p.drawRect(QRectF(6, 8, 16, 9));
      SevenSegText(p, QRectF(6.5, 9, 15, 7), "88", QColor(255, 60, 40));
      p.setBrush(QColor(120, 220, 90));
      p.drawRect(QRectF(6, 20, 4, 3));
      p.drawRect(QRectF(12, 20, 4, 3));
      // A double arrow: settings go to the controller.
      p.setPen(QPen(QColor(230, 140, 20), 2.5, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(22, 26), QPointF(29, 19));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(230, 140, 20));
      p.drawPolygon(QPolygonF({QPointF(30.5, 15.5), QPointF(30, 23), QPointF(23, 17)}));
      break;
    }
    case ToolIcon::Monitor: {
      IconMonitor(p, QColor(15, 30, 20));
      p.setPen(QPen(QColor(80, 230, 90), 1.6));
      p.drawPolyline(QPolygonF({QPointF(6, 17), QPointF(10, 14), QPointF(13, 15), QPointF(16, 10),
                                QPointF(20, 12), QPointF(23, 8), QPointF(26, 9)}));
      break;
    }
    case ToolIcon::Recorder: {
      p.setPen(QPen(QColor(90, 90, 90), 1));
      p.setBrush(QColor(255, 253, 235));
      p.drawRect(QRectF(3, 4, 26, 24));
      p.setPen(QPen(QColor(170, 200, 170), 0.8));
      for (int i = 1; i < 5; ++i) p.drawLine(QPointF(3, 4 + i * 4.8), QPointF(29, 4 + i * 4.8));
      p.setPen(QPen(QColor(210, 30, 30), 1.8));
      p.drawPolyline(QPolygonF({QPointF(4, 22), QPointF(9, 20), QPointF(13, 13), QPointF(18, 15),
                                QPointF(22, 9), QPointF(27, 10)}));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(210, 30, 30));
      p.drawEllipse(QPointF(27, 10), 2.2, 2.2);
      break;
    }
    case ToolIcon::Tester: {
      p.setPen(QPen(QColor(40, 40, 40), 1.2));
      p.setBrush(QColor(30, 35, 45));
      p.drawRoundedRect(QRectF(2.5, 5, 27, 22), 2, 2);
      QFont f("Monospace");
      f.setStyleHint(QFont::TypeWriter);
      f.setPixelSize(9);
      f.setBold(true);
      p.setFont(f);
      p.setPen(QColor(120, 230, 255));
      p.drawText(QRectF(4, 6, 25, 10), Qt::AlignLeft | Qt::AlignVCenter, ":01");
      p.setPen(QColor(255, 210, 80));
      p.drawText(QRectF(4, 15, 25, 10), Qt::AlignLeft | Qt::AlignVCenter, "03>");
      break;
    }
    case ToolIcon::FirmwareUpdate: {
      // A chip with a down arrow.
      p.setPen(QPen(QColor(150, 150, 150), 1.5));
      for (int i = 0; i < 4; ++i) {
        p.drawLine(QPointF(9 + i * 4.5, 12), QPointF(9 + i * 4.5, 8));
        p.drawLine(QPointF(9 + i * 4.5, 28), QPointF(9 + i * 4.5, 31));
      }
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(45, 45, 50));
      p.drawRoundedRect(QRectF(6, 11, 20, 17), 2, 2);
      p.setBrush(QColor(40, 170, 80));
      p.drawRect(QRectF(14, 1, 4, 9));
      p.drawPolygon(QPolygonF({QPointF(9, 9), QPointF(23, 9), QPointF(16, 17)}));
      break;
    }
    case ToolIcon::Exit: {
      p.setPen(QPen(QColor(90, 60, 30), 1.2));
      p.setBrush(QColor(170, 110, 60));
      p.drawRect(QRectF(4, 3, 15, 26));
      p.setBrush(QColor(240, 200, 80));
      p.drawEllipse(QPointF(16, 16), 1.3, 1.3);
      p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(17, 16), QPointF(27, 16));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(200, 30, 30));
      p.drawPolygon(QPolygonF({QPointF(31, 16), QPointF(25, 10.5), QPointF(25, 21.5)}));
      break;
    }
    case ToolIcon::About: {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(30, 100, 200));
      p.drawEllipse(QRectF(3, 3, 26, 26));
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(16, 9.5), 2.3, 2.3);
      p.drawRoundedRect(QRectF(13.8, 13.5, 4.4, 11.5), 1.5, 1.5);
      break;
    }
  }
}

}  // namespace

QIcon ToolBarIcon(ToolIcon icon) {
  QIcon result;
  for (int scale : {1, 2}) {
    QPixmap pm = Blank(QSize(kIconSize * scale, kIconSize * scale));
    {
      QPainter p(&pm);
      p.scale(scale, scale);
      DrawIcon(p, icon);
    }
    result.addPixmap(pm);
  }
  return result;
}

QPixmap ControllerPicture(QSize size) {
  QPixmap pm = Blank(size);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  // Design space 200 × 200 (a square front), scaled to the size asked for.
  const double s = std::min(size.width(), size.height()) / 200.0;
  p.translate((size.width() - 200 * s) / 2, (size.height() - 200 * s) / 2);
  p.scale(s, s);

  // Shadow and bezel.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(QRectF(8, 8, 190, 190), 10, 10);
  QLinearGradient bezel(0, 0, 0, 190);
  bezel.setColorAt(0, QColor(95, 98, 108));
  bezel.setColorAt(1, QColor(45, 47, 54));
  p.setBrush(bezel);
  p.drawRoundedRect(QRectF(2, 2, 190, 190), 10, 10);
  p.setBrush(QColor(30, 31, 36));
  p.drawRoundedRect(QRectF(10, 10, 174, 174), 6, 6);

  // Display window.
  p.setBrush(QColor(8, 8, 10));
  p.drawRoundedRect(QRectF(18, 18, 158, 100), 4, 4);
  SevenSegText(p, QRectF(28, 26, 138, 46), "123.4", QColor(255, 45, 35));
  SevenSegText(p, QRectF(58, 82, 106, 28), "100.0", QColor(70, 230, 80));
  QFont small("Sans");
  small.setPixelSize(7);
  small.setBold(true);
  p.setFont(small);
  p.setPen(QColor(255, 90, 80));
  p.drawText(QRectF(22, 62, 30, 10), Qt::AlignLeft, "PV");
  p.setPen(QColor(90, 230, 100));
  p.drawText(QRectF(22, 96, 30, 10), Qt::AlignLeft, "SV");

  // Indicator lamps.
  const std::array<std::pair<const char*, QColor>, 5> lamps{{{"OUT1", QColor(80, 230, 80)},
                                                             {"OUT2", QColor(60, 60, 60)},
                                                             {"AT", QColor(60, 60, 60)},
                                                             {"ALM1", QColor(240, 50, 40)},
                                                             {"ALM2", QColor(60, 60, 60)}}};
  for (std::size_t i = 0; i < lamps.size(); ++i) {
    const double x = 30 + static_cast<double>(i) * 33.5;
    p.setPen(Qt::NoPen);
    p.setBrush(lamps[i].second);
    p.drawEllipse(QPointF(x, 128), 3.5, 3.5);
    p.setPen(QColor(200, 200, 205));
    p.drawText(QRectF(x - 16, 133, 32, 10), Qt::AlignHCenter, lamps[i].first);
  }

  // Keys.
  const std::array<const char*, 4> keys{"SET", "<", "v", "^"};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const QRectF key(22 + static_cast<double>(i) * 39, 150, 32, 22);
    QLinearGradient g(key.topLeft(), key.bottomLeft());
    g.setColorAt(0, QColor(150, 153, 162));
    g.setColorAt(1, QColor(95, 98, 108));
    p.setPen(QPen(QColor(20, 20, 24), 1));
    p.setBrush(g);
    p.drawRoundedRect(key, 4, 4);
    p.setPen(QColor(240, 240, 245));
    p.drawText(key, Qt::AlignCenter, keys[i]);
  }
  p.setPen(QColor(170, 175, 185));  // still the small bold font of the captions
  p.drawText(QRectF(18, 176, 158, 10), Qt::AlignRight, "KX SERIES");
  return pm;
}

QPixmap AboutPicture(QSize size) {
  QPixmap pm = Blank(size);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = std::min(size.width(), size.height()) / 64.0;
  p.scale(s, s);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(30, 100, 200));
  p.drawRoundedRect(QRectF(1, 1, 62, 62), 10, 10);
  // A controller front and a line to the PC.
  p.setBrush(QColor(35, 36, 42));
  p.drawRoundedRect(QRectF(8, 10, 30, 30), 3, 3);
  p.setBrush(Qt::black);
  p.drawRect(QRectF(11, 13, 24, 14));
  SevenSegText(p, QRectF(12, 15, 22, 10), "25", QColor(255, 50, 40));
  p.setBrush(QColor(80, 230, 80));
  p.drawEllipse(QPointF(14, 33), 1.8, 1.8);
  p.setPen(QPen(QColor(255, 210, 80), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(38, 25), QPointF(46, 25));
  p.drawLine(QPointF(46, 25), QPointF(46, 44));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(240, 240, 245));
  p.drawRoundedRect(QRectF(34, 44, 24, 12), 2, 2);
  p.setBrush(QColor(30, 100, 200));
  for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(38 + i * 4, 50), 1, 1);
  return pm;
}

QPixmap SettingsTitlePicture(QSize size) {
  QPixmap pm(size);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, size.width(), 0);
  g.setColorAt(0, QColor(20, 60, 140));
  g.setColorAt(1, QColor(60, 140, 220));
  p.fillRect(pm.rect(), g);
  // A row of controllers joined by the line.
  const int h = size.height();
  const double unit = h * 0.6;
  p.setPen(QPen(QColor(255, 210, 80), std::max(1.5, h / 16.0)));
  p.drawLine(QPointF(h * 0.3, h * 0.8), QPointF(h * 0.3 + 3 * unit * 1.4, h * 0.8));
  for (int i = 0; i < 3; ++i) {
    const QRectF box(h * 0.3 + i * unit * 1.4, h * 0.12, unit, unit * 0.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(35, 36, 42));
    p.drawRoundedRect(box, 2, 2);
    SevenSegText(p, box.adjusted(unit * 0.12, unit * 0.15, -unit * 0.12, -unit * 0.35), "88",
                 QColor(255, 60, 40));
  }
  QFont f("Sans");
  f.setPixelSize(std::max(8, h * 2 / 5));
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRectF(h * 0.3 + 3 * unit * 1.4 + h * 0.3, 0, size.width(), h), Qt::AlignLeft | Qt::AlignVCenter,
             "COMMUNICATION SETTINGS");
  return pm;
}

}  // namespace kx::app
