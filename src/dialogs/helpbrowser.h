#pragma once
// The program's help window: the manual's pages in a browser window, with a
// search field above them. A search lists the sections of the manual (each
// first- and second-level heading with the text up to the next one) that
// hold every word typed, in any letter case, as links to them.
//
// The window opens within its screen, at a size that fits it.

#include <QList>
#include <QString>
#include <QTextBrowser>
#include <QUrl>

class QLabel;
class QLineEdit;
class QWidget;

class THelpBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  explicit THelpBrowser(QWidget* parent = nullptr);

  QWidget* SearchBar;
  QLabel* SearchLabel;
  QLineEdit* SearchEdit;

  struct Hit {
    QUrl url;         // the page, at the section's anchor when it has one
    QString heading;  // the section's heading
    QString page;     // the page's title
  };
  // The sections of the manual whose page `page` is one of: every page of
  // its folder but the search page and the table of help contexts.
  static QList<Hit> FindInManual(const QUrl& page, const QString& words);

  // Shows the sections that hold the words as a page of links.
  void Search(const QString& words);
  // Puts the focus into the search field (Help > Search).
  void FocusSearch();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void placeSearchBar();
  QWidget* scrollBarGap_ = nullptr;
  QUrl manualPage_;  // the page the last search looked beside
  bool placed_ = false;
};
