#include "components/artwork.h"

#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace art {
namespace {

const QColor kOutline(0x3b, 0x4a, 0x5c);

void drawArrow(QPainter& p, QPointF from, QPointF to, const QColor& colour, double width) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(from, to);
  const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
  const double head = width * 2.2;
  QPainterPath tip;
  tip.moveTo(to + QPointF(std::cos(angle) * head * 0.6, std::sin(angle) * head * 0.6));
  tip.lineTo(to + QPointF(std::cos(angle + 2.3) * head, std::sin(angle + 2.3) * head));
  tip.lineTo(to + QPointF(std::cos(angle - 2.3) * head, std::sin(angle - 2.3) * head));
  tip.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(tip);
}

void drawCross(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(0xc6, 0x28, 0x28), 2.4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(r.topLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomLeft());
}

// An icon drawn by `paint` in a w x h box, once per device pixel ratio.
template <typename Paint>
QIcon paintedIcon(int w, int h, std::initializer_list<int> scales, Paint paint) {
  QIcon result;
  for (int scale : scales) {
    QPixmap pm(w * scale, h * scale);
    pm.setDevicePixelRatio(scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    result.addPixmap(pm);
  }
  return result;
}

void paintImage(QPainter& p, Image which) {
  const QColor green(0x2e, 0x8b, 0x3e);
  switch (which) {
    case Image::New:
      drawDocument(p, {9, 10.5}, 0.85);
      p.setPen(QPen(QColor(0xe0, 0x9a, 0x10), 2.0, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(15.5, 2), QPointF(15.5, 8));
      p.drawLine(QPointF(12.5, 5), QPointF(18.5, 5));
      break;
    case Image::Open:
      drawFolder(p, QRectF(1.5, 3.5, 17, 14));
      break;
    case Image::Save: {
      p.setPen(QPen(kOutline, 1.0));
      p.setBrush(QColor(0x35, 0x5c, 0x9e));
      p.drawRoundedRect(QRectF(2.5, 2.5, 15, 15), 1.5, 1.5);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(5, 2.5, 10, 6));
      p.setBrush(QColor(0xc8, 0xd2, 0xe0));
      p.drawRect(QRectF(5.5, 11.5, 9, 6));
      break;
    }
    case Image::Settings:
      p.setPen(QPen(kOutline, 1.4));
      for (int i = 0; i < 3; ++i) p.drawLine(QPointF(3, 5 + i * 5), QPointF(17, 5 + i * 5));
      p.setBrush(QColor(0xe8, 0xc5, 0x6a));
      p.setPen(QPen(kOutline, 1.0));
      p.drawEllipse(QPointF(7, 5), 2.3, 2.3);
      p.drawEllipse(QPointF(13, 10), 2.3, 2.3);
      p.drawEllipse(QPointF(9, 15), 2.3, 2.3);
      break;
    case Image::Refresh: {
      p.setPen(QPen(green, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      const QRectF ring(4, 4, 12, 12);
      p.drawArc(ring, 40 * 16, 280 * 16);
      drawArrow(p, QPointF(14.2, 4.8), QPointF(15.4, 6.2), green, 2.0);
      break;
    }
    case Image::Load:
      drawBriefcase(p, QRectF(2, 9, 16, 10));
      drawArrow(p, QPointF(10, 1), QPointF(10, 7), green, 2.2);
      break;
    case Image::Unload:
      drawBriefcase(p, QRectF(2, 9, 16, 10));
      drawArrow(p, QPointF(10, 8), QPointF(10, 2.5), green, 2.2);
      break;
    case Image::DeleteBriefcase:
      drawBriefcase(p, QRectF(1, 5, 15, 11));
      drawCross(p, QRectF(12, 11, 6, 6));
      break;
    case Image::DeleteLocal:
      drawDocument(p, {8.5, 10}, 0.8);
      drawCross(p, QRectF(12, 11, 6, 6));
      break;
    case Image::About:
      p.setPen(QPen(kOutline, 1.0));
      p.setBrush(QColor(0x35, 0x72, 0xb8));
      p.drawEllipse(QRectF(2, 2, 16, 16));
      p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(10, 9), QPointF(10, 14));
      p.drawPoint(QPointF(10, 5.8));
      break;
  }
}

}  // namespace

void drawFolder(QPainter& p, const QRectF& r) {
  const double tab = std::max(2.0, r.height() / 6);
  QPainterPath back;
  back.moveTo(r.left(), r.top() + tab);
  back.lineTo(r.left() + r.width() * 0.38, r.top() + tab);
  back.lineTo(r.left() + r.width() * 0.46, r.top());
  back.lineTo(r.right() - 1, r.top());
  back.lineTo(r.right() - 1, r.bottom());
  back.lineTo(r.left(), r.bottom());
  back.closeSubpath();
  p.setPen(QPen(kOutline, 1.1));
  p.setBrush(QColor(0xd9, 0xa4, 0x2e));
  p.drawPath(back);
  QPainterPath front;
  front.moveTo(r.left() + r.width() * 0.07, r.top() + tab * 2);
  front.lineTo(r.right(), r.top() + tab * 2);
  front.lineTo(r.right() - r.width() * 0.07, r.bottom());
  front.lineTo(r.left(), r.bottom());
  front.closeSubpath();
  p.setBrush(QColor(0xf4, 0xc8, 0x5a));
  p.drawPath(front);
}

void drawBriefcase(QPainter& p, const QRectF& r) {
  const double handleH = std::max(3.0, r.height() / 4);
  p.setPen(QPen(kOutline, std::max(1.2, r.height() / 18)));
  p.setBrush(Qt::NoBrush);
  const double hw = r.width() * 0.34;
  p.drawRoundedRect(QRectF(r.center().x() - hw / 2, r.top(), hw, handleH * 1.5), 2, 2);
  p.setPen(QPen(kOutline, 1.1));
  p.setBrush(QColor(0x8b, 0x5a, 0x2b));
  const QRectF body(r.left(), r.top() + handleH, r.width(), r.height() - handleH);
  const double radius = std::min(4.0, body.height() / 4);
  p.drawRoundedRect(body, radius, radius);
  const double strap = body.top() + body.height() * 0.42;
  p.setPen(QPen(QColor(0x5e, 0x3a, 0x18), std::max(1.0, body.height() / 20)));
  p.drawLine(QPointF(body.left() + 1.5, strap), QPointF(body.right() - 1.5, strap));
  const double lock = std::max(2.5, body.height() / 5);
  p.setPen(QPen(kOutline, 0.8));
  p.setBrush(QColor(0xe8, 0xc5, 0x6a));
  p.drawRect(QRectF(body.center().x() - lock / 2, strap - lock / 2, lock, lock));
}

void drawBin(QPainter& p, const QRectF& r) {
  p.setPen(QPen(kOutline, 1.2));
  p.setBrush(QColor(0x9a, 0xa5, 0xb1));
  QPainterPath body;
  body.moveTo(r.left() + 3, r.top() + 8);
  body.lineTo(r.right() - 3, r.top() + 8);
  body.lineTo(r.right() - 6, r.bottom());
  body.lineTo(r.left() + 6, r.bottom());
  body.closeSubpath();
  p.drawPath(body);
  p.setBrush(QColor(0x7d, 0x88, 0x94));
  p.drawRoundedRect(QRectF(r.left(), r.top() + 3, r.width(), 5), 2, 2);
  p.drawRect(QRectF(r.center().x() - 5, r.top(), 10, 3));
  p.setPen(QPen(QColor(0x6a, 0x74, 0x80), 1.2));
  for (int i = 1; i <= 3; ++i) {
    const double x = r.left() + r.width() * i / 4.0;
    p.drawLine(QPointF(x, r.top() + 12), QPointF(x, r.bottom() - 4));
  }
}

void drawDocument(QPainter& p, const QPointF& centre, double scale, double opacity) {
  p.save();
  p.setOpacity(opacity);
  p.translate(centre);
  p.scale(scale, scale);
  const double w = 16, h = 20, fold = 5;
  QPainterPath page;
  page.moveTo(-w / 2, -h / 2);
  page.lineTo(w / 2 - fold, -h / 2);
  page.lineTo(w / 2, -h / 2 + fold);
  page.lineTo(w / 2, h / 2);
  page.lineTo(-w / 2, h / 2);
  page.closeSubpath();
  p.setPen(QPen(kOutline, 1.0));
  p.setBrush(Qt::white);
  p.drawPath(page);
  p.setBrush(QColor(0xdd, 0xe3, 0xea));
  QPainterPath corner;
  corner.moveTo(w / 2 - fold, -h / 2);
  corner.lineTo(w / 2 - fold, -h / 2 + fold);
  corner.lineTo(w / 2, -h / 2 + fold);
  p.drawPath(corner);
  p.setPen(QPen(QColor(0x5b, 0x8d, 0xc9), 1.0));
  for (int i = 0; i < 3; ++i) {
    const double y = -h / 2 + 8 + i * 3.5;
    p.drawLine(QPointF(-w / 2 + 3, y), QPointF(w / 2 - (i == 2 ? 6 : 3), y));
  }
  p.restore();
}

QIcon icon(Image which) {
  return paintedIcon(20, 20, {1, 2}, [&](QPainter& p) { paintImage(p, which); });
}

namespace {

// A four-pointed sparkle of `radius` about `centre`: something new.
void drawSparkle(QPainter& p, const QPointF& centre, double radius) {
  QPainterPath star;
  star.moveTo(centre + QPointF(0, -radius));
  star.quadTo(centre, centre + QPointF(radius, 0));
  star.quadTo(centre, centre + QPointF(0, radius));
  star.quadTo(centre, centre + QPointF(-radius, 0));
  star.quadTo(centre, centre + QPointF(0, -radius));
  p.setPen(QPen(QColor(0xb0, 0x7a, 0x00), 0.6));
  p.setBrush(QColor(0xff, 0xc8, 0x20));
  p.drawPath(star);
}

// A small sheet for the 16 x 16 row images: w x h at (x, y), folded corner.
void drawSheet(QPainter& p, const QRectF& r) {
  const double fold = r.width() * 0.35;
  QPainterPath page;
  page.moveTo(r.left(), r.top());
  page.lineTo(r.right() - fold, r.top());
  page.lineTo(r.right(), r.top() + fold);
  page.lineTo(r.right(), r.bottom());
  page.lineTo(r.left(), r.bottom());
  page.closeSubpath();
  p.setPen(QPen(kOutline, 1.0));
  p.setBrush(Qt::white);
  p.drawPath(page);
  p.setPen(QPen(QColor(0x5b, 0x8d, 0xc9), 1.0));
  for (int i = 0; i < 2; ++i) {
    const double y = r.top() + fold + 2.5 + i * 2.5;
    if (y < r.bottom() - 1) p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
  }
}

void paintRowImage(QPainter& p, int index) {
  switch (index) {
    case 0: {  // equals sign, edged in white to show on a selected row
      p.setPen(QPen(QColor(255, 255, 255, 230), 1.2));
      p.setBrush(QColor(0x2e, 0x8b, 0x3e));
      p.drawRoundedRect(QRectF(2.5, 4.5, 11, 2.6), 1, 1);
      p.drawRoundedRect(QRectF(2.5, 9, 11, 2.6), 1, 1);
      break;
    }
    case 1: {  // cobweb: spokes from a corner and threads across them
      // Dark threads on a light halo, so that the web shows on a selected
      // (dark) row as well as on a light one.
      const QPointF c(1.5, 1.5);
      const double pi = 3.14159265358979;
      QPainterPath web;
      for (int i = 0; i <= 4; ++i) {
        const double a = i * pi / 8;
        web.moveTo(c);
        web.lineTo(c + QPointF(std::cos(a) * 14, std::sin(a) * 14));
      }
      for (double rad : {4.5, 8.5, 12.5}) {
        for (int i = 0; i <= 4; ++i) {
          const double a = i * pi / 8;
          const QPointF pt = c + QPointF(std::cos(a) * rad, std::sin(a) * rad);
          if (i == 0) web.moveTo(pt);
          else web.quadTo(c + QPointF(std::cos(a - pi / 16) * rad * 0.8,
                                      std::sin(a - pi / 16) * rad * 0.8), pt);
        }
      }
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(255, 255, 255, 230), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPath(web);
      p.setPen(QPen(QColor(0x3c, 0x3c, 0x3c), 1.0));
      p.drawPath(web);
      break;
    }
    case 2: {  // document with a sparkle
      drawSheet(p, QRectF(2.5, 3.5, 9, 11));
      drawSparkle(p, QPointF(12, 4), 3.6);
      break;
    }
    case 3: {  // two documents with a red cross
      drawSheet(p, QRectF(1.5, 1.5, 8, 10));
      drawSheet(p, QRectF(5.5, 4.5, 8, 10));
      p.setPen(QPen(QColor(0xc6, 0x28, 0x28), 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 8), QPointF(14, 14));
      p.drawLine(QPointF(14, 8), QPointF(8, 14));
      break;
    }
    case 4: {  // document with a warning triangle: changed on both sides
      drawSheet(p, QRectF(1.5, 1.5, 9, 11));
      // The mark's stroke and dot sit on whole pixels at 1x (centred on .5),
      // so that the "!" stays a line rather than a smudge.
      QPainterPath triangle;
      triangle.moveTo(11.5, 5.5);
      triangle.lineTo(15.5, 14.5);
      triangle.lineTo(7.5, 14.5);
      triangle.closeSubpath();
      // A white rim keeps the triangle apart from the sheet and from a
      // selected row.
      p.setPen(QPen(QColor(255, 255, 255, 230), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPath(triangle);
      p.setPen(QPen(QColor(0x8a, 0x4b, 0x00), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(0xf0, 0xa0, 0x10));
      p.drawPath(triangle);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x2a, 0x1c, 0x00));
      p.drawRect(QRectF(11, 8.5, 1, 3));
      p.drawRect(QRectF(11, 12.5, 1, 1));
      break;
    }
    case 5: {  // document with a sparkle, on this computer's screen
      drawSheet(p, QRectF(1.5, 1.5, 8, 10));
      drawSparkle(p, QPointF(12.5, 3.5), 3.2);
      // The screen, its neck and its foot on whole pixels at 1x, edged in
      // white.
      const QRectF screen(7.5, 8.5, 8, 4);
      const QRectF neck(11, 13, 1, 1);
      const QRectF foot(9, 14, 5, 1);
      QPainterPath monitor;
      monitor.addRect(screen);
      monitor.addRect(neck);
      monitor.addRect(foot);
      p.setPen(QPen(QColor(255, 255, 255, 230), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPath(monitor);
      p.setPen(QPen(kOutline, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
      p.setBrush(QColor(0x5b, 0x9b, 0xe0));
      p.drawRect(screen);
      p.setPen(Qt::NoPen);
      p.setBrush(kOutline);
      p.drawRect(neck);
      p.drawRect(foot);
      break;
    }
    case 6: {  // the dashed outline of a document that is gone, with a red bar
      QPainterPath sheet;
      sheet.moveTo(2.5, 1.5);
      sheet.lineTo(8.5, 1.5);
      sheet.lineTo(11.5, 4.5);
      sheet.lineTo(11.5, 14.5);
      sheet.lineTo(2.5, 14.5);
      sheet.closeSubpath();
      p.setBrush(QColor(255, 255, 255, 160));
      p.setPen(QPen(QColor(255, 255, 255, 230), 2.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
      p.drawPath(sheet);
      p.setPen(QPen(kOutline, 1.0, Qt::DashLine, Qt::FlatCap, Qt::MiterJoin));
      p.drawPath(sheet);
      p.setPen(QPen(QColor(255, 255, 255, 230), 1.2));
      p.setBrush(QColor(0xc6, 0x28, 0x28));
      p.drawRoundedRect(QRectF(7.5, 9.5, 8, 3), 1, 1);
      break;
    }
  }
}

}  // namespace

QIcon rowIcon(int index) {
  return paintedIcon(16, 16, {1, 2, 3}, [&](QPainter& p) { paintRowImage(p, index); });
}

QPixmap listPicture(ListPicture which, qreal devicePixelRatio) {
  const int side = static_cast<int>(std::ceil(32 * devicePixelRatio));
  QPixmap pm(side, side);
  pm.setDevicePixelRatio(devicePixelRatio);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  if (which == ListPicture::LocalFolder) drawFolder(p, QRectF(1, 4, 30, 24));
  else drawBriefcase(p, QRectF(1, 5, 30, 23));
  p.end();
  return pm;
}

QIcon arrowIcon(bool down) {
  return paintedIcon(17, 41, {1, 2}, [&](QPainter& p) {
    const QColor colour = down ? QColor(0x2e, 0x8b, 0x3e) : QColor(0x1f, 0x6f, 0xc5);
    if (down) drawArrow(p, {8.5, 3}, {8.5, 33}, colour, 3.2);
    else drawArrow(p, {8.5, 38}, {8.5, 8}, colour, 3.2);
  });
}

}  // namespace art
