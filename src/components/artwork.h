#pragma once
// The program's own little pictures, painted rather than stored: the folder,
// briefcase, waste bin and document that the progress animation moves about,
// and the tool bar and menu images built from them.

#include <QIcon>
#include <QPainter>
#include <QPointF>
#include <QRectF>

namespace art {

void drawFolder(QPainter& p, const QRectF& r);
void drawBriefcase(QPainter& p, const QRectF& r);
void drawBin(QPainter& p, const QRectF& r);
// A sheet of paper centred on `centre`, 16 x 20 at scale 1.
void drawDocument(QPainter& p, const QPointF& centre, double scale = 1.0, double opacity = 1.0);

// The command images, 20 x 20 (with a greyed form for disabled commands).
enum class Image {
  New,
  Open,
  Save,
  Settings,
  Refresh,
  Load,
  Unload,
  DeleteBriefcase,
  DeleteLocal,
  About,
};
QIcon icon(Image which);

}  // namespace art
