#include "components/urlstatic.h"

#include <QDesktopServices>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QUrl>

TURLStatic::TURLStatic(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  QFont f(QStringLiteral("Arial"));
  f.setPointSizeF(font().pointSizeF());
  f.setUnderline(true);
  setFont(f);
  QPalette p = palette();
  p.setColor(QPalette::WindowText, Qt::blue);
  setPalette(p);
  setAutoFillBackground(false);
  // Reachable from the keyboard too: Tab to it, Space or Enter opens it.
  setFocusPolicy(Qt::TabFocus);
  setTextFormat(Qt::PlainText);
}

TURLStatic::TURLStatic(const QString& caption, const QString& url, QWidget* parent)
    : TURLStatic(parent) {
  setText(caption);
  url_ = url;
}

void TURLStatic::open() {
  if (url_.isEmpty()) return;
  const bool ok = QDesktopServices::openUrl(QUrl(url_, QUrl::TolerantMode));
  emit opened(url_, ok);
}

void TURLStatic::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    event->accept();  // the press is not passed on to the label
    open();
    return;
  }
  QLabel::mousePressEvent(event);
}

void TURLStatic::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    event->accept();
    open();
    return;
  }
  QLabel::keyPressEvent(event);
}
