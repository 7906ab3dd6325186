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

// The row images of the two lists, 16 x 16 (also drawn at 2x and 3x): 0 an
// equals sign (same on both sides), 1 a cobweb (this side's copy is the
// older one), 2 a document with a sparkle (this side's copy is the newer
// one), 3 two documents with a red cross (only on this side), 4 a document
// with a warning triangle (changed on both computers since it was last
// carried), 5 a document with a sparkle beside a computer screen (newer
// here: this computer changed the file since it last carried it). Any other
// index gives an empty picture.
QIcon rowIcon(int index);

// The 32 x 32 pictures beside the lists: the local folder and the briefcase.
enum class ListPicture { LocalFolder, Briefcase };
QPixmap listPicture(ListPicture which, qreal devicePixelRatio);

// The flat arrow of the buttons between the lists (pointing down: load;
// up: unload), for a 21 x 45 button.
QIcon arrowIcon(bool down);

}  // namespace art
