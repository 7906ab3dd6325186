#pragma once
// A short looping animation for a kind of briefcase operation, painted by the
// widget itself: a document travels from where it comes from to where it goes.

#include <QTimer>
#include <QWidget>

class TAnimate : public QWidget {
  Q_OBJECT

 public:
  // The clips of the program, one per kind of operation.
  enum Clip : int {
    clipLoad = 114,    // local folder -> briefcase
    clipUnload = 115,  // briefcase -> local folder
    clipDelete = 116,  // briefcase -> waste bin
  };
  static constexpr int kLastFrame = 19;
  static constexpr int kFrameInterval = 60;  // ms

  explicit TAnimate(QWidget* parent = nullptr);

  // Chooses the clip; an unknown number shows the load clip. Rewinds to frame 0.
  void setClip(int clip);
  int clip() const { return clip_; }

  // Playing loops frames 0..kLastFrame; stopping keeps the current frame.
  void setActive(bool on);
  bool isActive() const { return timer_.isActive(); }

  int frame() const { return frame_; }
  void setFrame(int frame);

  QSize sizeHint() const override { return {272, 60}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void nextFrame();
  QTimer timer_;
  int clip_ = clipLoad;
  int frame_ = 0;
};
