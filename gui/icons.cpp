#include "icons.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace falcet {
namespace {

// Draws in a 32 x 32 design space scaled to size.
template <typename Draw>
QPixmap drawn(int size, Draw draw) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  draw(p);
  return pm;
}

template <typename Draw>
QIcon iconOf(Draw draw) {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(drawn(size, draw));
  return icon;
}

// A small framed picture: sky, sun and a hill.
void picture(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(60, 60, 60), 1.2));
  p.setBrush(QColor(120, 180, 235));
  p.drawRoundedRect(r, 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 205, 60));
  p.drawEllipse(QPointF(r.left() + r.width() * 0.72, r.top() + r.height() * 0.3), r.width() * 0.12,
                r.width() * 0.12);
  QPainterPath hill;
  hill.moveTo(r.left() + 0.6, r.bottom() - 0.6);
  hill.quadTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.35, r.right() - 0.6, r.bottom() - 0.6);
  hill.closeSubpath();
  p.setBrush(QColor(70, 160, 80));
  p.drawPath(hill);
}

// A program window: title bar and body.
void program(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(50, 50, 70), 1.2));
  p.setBrush(QColor(245, 245, 250));
  p.drawRect(r);
  p.setBrush(QColor(40, 90, 170));
  p.drawRect(QRectF(r.left(), r.top(), r.width(), 4));
}

void arrow(QPainter& p, QPointF from, QPointF to, QColor color) {
  p.setPen(QPen(color, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(from, to);
  QLineF line(to, from);
  QLineF a = line;
  a.setLength(5);
  a.setAngle(line.angle() + 35);
  QLineF b = line;
  b.setLength(5);
  b.setAngle(line.angle() - 35);
  p.drawLine(a);
  p.drawLine(b);
}

}  // namespace

QIcon windowIcon() {
  return iconOf([](QPainter& p) {
    program(p, QRectF(2, 3, 24, 22));
    picture(p, QRectF(12, 13, 18, 16));
  });
}

QIcon exportIcon() {
  return iconOf([](QPainter& p) {
    program(p, QRectF(1.5, 1.5, 18, 18));
    picture(p, QRectF(5, 8, 11, 9));
    picture(p, QRectF(17, 17, 14, 12));
    arrow(p, QPointF(12, 22), QPointF(16, 26), QColor(200, 60, 40));
  });
}

QIcon importIcon() {
  return iconOf([](QPainter& p) {
    program(p, QRectF(12.5, 1.5, 18, 18));
    picture(p, QRectF(1, 17, 14, 12));
    arrow(p, QPointF(14, 20), QPointF(19, 14), QColor(40, 140, 60));
  });
}

QCursor handCursor() {
  QPixmap pm = drawn(32, [](QPainter& p) {
    QPainterPath hand;
    hand.moveTo(5, 1);  // the fingertip, near the hot spot (6, 0)
    hand.cubicTo(5, 0, 8, 0, 8, 1);
    hand.lineTo(8, 11);
    hand.cubicTo(9, 9, 12, 9, 12, 12);
    hand.cubicTo(13, 10, 16, 10, 16, 13);
    hand.cubicTo(17, 11, 20, 11, 20, 14);
    hand.lineTo(20, 21);
    hand.cubicTo(20, 25, 18, 27, 17, 28);
    hand.lineTo(8, 28);
    hand.cubicTo(6, 25, 3, 21, 1, 18);
    hand.cubicTo(0, 16, 2, 14, 4, 16);
    hand.lineTo(5, 18);
    hand.closeSubpath();
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::white);
    p.drawPath(hand);
  });
  return QCursor(pm, 6, 0);
}

}  // namespace falcet
