#pragma once
// A hyperlink label: blue, underlined, with a hand cursor; a left click hands
// its URL to the desktop, which starts the user's browser or mail program.

#include <QLabel>
#include <QString>

class TURLStatic : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QString URL READ GetURL WRITE SetURL)

 public:
  explicit TURLStatic(QWidget* parent = nullptr);
  TURLStatic(const QString& caption, const QString& url, QWidget* parent = nullptr);

  QString GetURL() const { return url_; }
  void SetURL(const QString& url) { url_ = url; }

 signals:
  // Emitted after the URL was handed to the desktop; ok is the desktop's answer.
  void opened(const QString& url, bool ok);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void open();
  QString url_;
};
