#pragma once
// The about window: the program's name and version over its picture, a few
// notices, a link to the home page and one to the contact address, and OK.

#include <QDialog>
#include <QImage>

class QLabel;
class QPushButton;
class TURLStatic;
class TVersionLabel;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // Where the links of the window lead.
  static const char* const kHomePage;
  static const char* const kContactAddress;  // the bare address; the link is mailto:

  // The design size of the window; it grows when the texts need more room.
  static constexpr int kDesignWidth = 493;
  static constexpr int kDesignHeight = 300;
  // The band of the window's height (as fractions) where the picture's
  // artwork lies; the texts stay above and below it.
  static constexpr double kArtworkTop = 0.47;
  static constexpr double kArtworkBottom = 0.65;

  explicit TAboutBox(QWidget* parent = nullptr);
  ~TAboutBox() override;

  QLabel* Label1;  // "Carryvale"
  TVersionLabel* VersionLabel;
  QLabel* NoticeLabel;  // further centred lines
  TURLStatic* URLStatic1;
  TURLStatic* URLStatic2;
  QPushButton* OKButton;

  // The background picture (null when it could not be decoded; the window
  // then shows its plain colour).
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QImage picture_;
};

extern TAboutBox* AboutBox;
