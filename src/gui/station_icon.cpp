#include "gui/station_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace korvan::gui {

namespace {

// Draws the icon on a 64 x 64 grid.
QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  p.setPen(QPen(QColor("#0d2a5c"), 2));
  p.setBrush(QColor("#1f4e9c"));
  p.drawRoundedRect(QRectF(4, 8, 30, 40), 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#9fd3ff"));
  p.drawRoundedRect(QRectF(9, 14, 20, 8), 1, 1);
  p.setBrush(QColor("#3cd070"));
  p.drawEllipse(QPointF(13, 30), 3, 3);
  p.setBrush(QColor("#e04040"));
  p.drawEllipse(QPointF(22, 30), 3, 3);
  p.setBrush(QColor("#0d2a5c"));
  p.drawRoundedRect(QRectF(9, 38, 20, 4), 1, 1);

  QPainterPath ribbon(QPointF(34, 28));
  ribbon.cubicTo(QPointF(42, 28), QPointF(40, 44), QPointF(46, 44));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor("#555555"), 3));
  p.drawPath(ribbon);

  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#333333"));
  p.drawRoundedRect(QRectF(44, 36, 16, 16), 1, 1);
  p.setPen(QPen(QColor("#bbbbbb"), 2));
  for (int x : {47, 52, 57}) {
    p.drawLine(QPointF(x, 33), QPointF(x, 36));
    p.drawLine(QPointF(x, 52), QPointF(x, 55));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#bbbbbb"));
  p.drawEllipse(QPointF(48, 40), 1.5, 1.5);
  return pixmap;
}

}  // namespace

QIcon StationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(Draw(size));
  return icon;
}

}  // namespace korvan::gui
