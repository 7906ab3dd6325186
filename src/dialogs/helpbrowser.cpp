#include "dialogs/helpbrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextDocument>

#include "dialogs/placement.h"

namespace {

// Pages that are no topics of their own: the search page, and the table
// that leads each help context to its topic.
bool isTopicPage(const QString& name) {
  return name != QLatin1String("search.html") && name != QLatin1String("manual.html");
}

// The file a manual page's address names (a resource path for the pages the
// program carries), or "" for any other address.
QString fileOf(const QUrl& page) {
  if (page.isLocalFile()) return page.toLocalFile();
  if (page.scheme() == QLatin1String("qrc")) return QLatin1Char(':') + page.path();
  return QString();
}

QUrl urlOf(const QString& file) {
  if (file.startsWith(QLatin1Char(':'))) return QUrl(QStringLiteral("qrc") + file);
  return QUrl::fromLocalFile(file);
}

// The anchor a heading carries (its id), or "".
QString anchorOf(const QTextBlock& block) {
  for (auto it = block.begin(); !it.atEnd(); ++it) {
    const QStringList names = it.fragment().charFormat().anchorNames();
    if (!names.isEmpty()) return names.front();
  }
  return QString();
}

}  // namespace

THelpBrowser::THelpBrowser(QWidget* parent) : QTextBrowser(parent) {
  SearchBar = new QWidget(this);
  SearchBar->setObjectName(QStringLiteral("SearchBar"));
  SearchBar->setAutoFillBackground(true);
  SearchLabel = new QLabel(QStringLiteral("&Search:"), SearchBar);
  SearchEdit = new QLineEdit(SearchBar);
  SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
  SearchEdit->setPlaceholderText(QStringLiteral("a word of the manual"));
  SearchEdit->setClearButtonEnabled(true);
  SearchLabel->setBuddy(SearchEdit);
  auto* row = new QHBoxLayout(SearchBar);
  row->addWidget(SearchLabel);
  row->addWidget(SearchEdit, 1);
  connect(SearchEdit, &QLineEdit::returnPressed, this, [this] { Search(SearchEdit->text()); });
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  scrollBarGap_ = new QWidget(this);
  addScrollBarWidget(scrollBarGap_, Qt::AlignTop);
  placeSearchBar();
}

void THelpBrowser::placeSearchBar() {
  const int height = SearchBar->sizeHint().height();
  setViewportMargins(0, height, 0, 0);
  // The scroll bar starts below the search field: a piece of its column
  // as high as the field stands in its place.
  scrollBarGap_->setFixedHeight(height);
  // Beside the scroll bar's column, which is always there.
  const QRect inside = contentsRect();
  const int column = verticalScrollBar()->sizeHint().width();
  SearchBar->setGeometry(inside.left(), inside.top(), inside.width() - column, height);
}

void THelpBrowser::resizeEvent(QResizeEvent* event) {
  QTextBrowser::resizeEvent(event);
  placeSearchBar();
}

void THelpBrowser::showEvent(QShowEvent* event) {
  if (!placed_ && !event->spontaneous()) {
    // A size that the screen holds, and a place on it: a window larger than
    // the screen, or placed by its parent near an edge, would reach past it.
    placed_ = true;
    const QFontMetrics fm(font());
    QSize size(fm.averageCharWidth() * 92, fm.height() * 34);
    if (const QScreen* s = screen()) size = size.boundedTo(s->availableGeometry().size() * 9 / 10);
    resize(size);
    CentreOnScreen(this);
  }
  QTextBrowser::showEvent(event);
}

void THelpBrowser::FocusSearch() {
  activateWindow();
  SearchEdit->setFocus(Qt::ShortcutFocusReason);
  SearchEdit->selectAll();
}

QList<THelpBrowser::Hit> THelpBrowser::FindInManual(const QUrl& page, const QString& words) {
  QList<Hit> hits;
  const QStringList wanted = words.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  const QString file = fileOf(page);
  if (wanted.isEmpty() || file.isEmpty()) return hits;
  const QDir folder = QFileInfo(file).dir();
  QStringList pages = folder.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
  // The contents first, as a reader meets the pages.
  if (pages.removeOne(QStringLiteral("index.html"))) pages.prepend(QStringLiteral("index.html"));
  for (const QString& name : pages) {
    if (!isTopicPage(name)) continue;
    QFile f(folder.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) continue;
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(f.readAll()));
    QString title = doc.metaInformation(QTextDocument::DocumentTitle);
    title.remove(QStringLiteral(" - Carryvale manual"));
    const QUrl url = urlOf(folder.filePath(name));
    Hit section;
    QString text;
    auto flush = [&] {
      if (section.heading.isEmpty()) return;
      const QString lower = text.toLower();
      for (const QString& w : wanted)
        if (!lower.contains(w)) return;
      hits.append(section);
    };
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
      const int level = b.blockFormat().headingLevel();
      if (level == 1 || level == 2) {
        flush();
        section = Hit{url, b.text(), title};
        const QString anchor = anchorOf(b);
        if (!anchor.isEmpty()) section.url.setFragment(anchor);
        text = b.text();
      } else {
        text += QLatin1Char(' ') + b.text();
      }
    }
    flush();
  }
  return hits;
}

void THelpBrowser::Search(const QString& words) {
  if (source().isValid()) manualPage_ = source();
  const QList<Hit> hits = FindInManual(manualPage_, words);
  const QString shown = words.simplified().toHtmlEscaped();
  QString html = QStringLiteral("<h1>Search</h1>");
  if (hits.isEmpty()) {
    html += QStringLiteral("<p>No section of the manual contains &ldquo;%1&rdquo;.</p>").arg(shown);
  } else {
    html += QStringLiteral("<p>Sections of the manual that contain &ldquo;%1&rdquo;:</p><ul>")
                .arg(shown);
    for (const Hit& h : hits)
      html += QStringLiteral("<li><a href=\"%1\">%2</a> (%3)</li>")
                  .arg(h.url.toString(QUrl::FullyEncoded).toHtmlEscaped(), h.heading.toHtmlEscaped(),
                       h.page.toHtmlEscaped());
    html += QStringLiteral("</ul>");
  }
  setHtml(html);
}
