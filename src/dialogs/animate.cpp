#include "dialogs/animate.h"

#include <QPainter>

#include "components/artwork.h"

#include <algorithm>
#include <cmath>

using art::drawBin;
using art::drawBriefcase;
using art::drawDocument;
using art::drawFolder;

TAnimate::TAnimate(QWidget* parent) : QWidget(parent) {
  setFixedSize(272, 60);
  timer_.setInterval(kFrameInterval);
  connect(&timer_, &QTimer::timeout, this, &TAnimate::nextFrame);
}

void TAnimate::setClip(int clip) {
  clip_ = (clip == clipUnload || clip == clipDelete) ? clip : clipLoad;
  setFrame(0);
}

void TAnimate::setActive(bool on) {
  if (on)
    timer_.start();
  else
    timer_.stop();
}

void TAnimate::setFrame(int frame) {
  frame_ = frame < 0 ? 0 : (frame > kLastFrame ? kLastFrame : frame);
  update();
}

void TAnimate::nextFrame() { setFrame(frame_ >= kLastFrame ? 0 : frame_ + 1); }

void TAnimate::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF left(24, 14, 44, 36);
  const QRectF right(width() - 24 - 44, 14, 44, 36);
  const QRectF binRect(width() - 24 - 36, 12, 36, 40);

  switch (clip_) {
    case clipUnload:
      drawBriefcase(p, left);
      drawFolder(p, right);
      break;
    case clipDelete:
      drawBriefcase(p, left);
      drawBin(p, binRect);
      break;
    default:
      drawFolder(p, left);
      drawBriefcase(p, right);
      break;
  }

  // The document's journey: out of the left object, over an arc, into the right one.
  const double t = double(frame_) / kLastFrame;
  const double x0 = left.center().x(), x1 = (clip_ == clipDelete ? binRect : right).center().x();
  const double x = x0 + (x1 - x0) * t;
  const double y = 34 - 24 * std::sin(t * M_PI);
  double scale = 1.0, opacity = 1.0;
  if (t < 0.15) scale = 0.5 + t / 0.15 * 0.5;
  if (t > 0.85) scale = 0.5 + (1.0 - t) / 0.15 * 0.5;
  if (clip_ == clipDelete && t > 0.6) opacity = std::max(0.15, 1.0 - (t - 0.6) / 0.4);
  drawDocument(p, QPointF(x, y), scale, opacity);
}
