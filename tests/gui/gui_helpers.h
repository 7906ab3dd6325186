#pragma once
// Helpers of the window tests: the scripted question interface, a way to act
// on the next modal window, and a private settings folder per test.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../core/scriptedasker.h"
#include "platform/ask.h"

// Calls `act` with the next modal window once it is shown (the caller then
// enters the window's own event loop). A window that `act` leaves open is
// rejected after a few seconds, so that a failing test cannot hang.
inline void onNextModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  auto* clock = new QElapsedTimer;
  clock->start();
  auto acted = std::make_shared<QPointer<QWidget>>();
  auto done = std::make_shared<bool>(false);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [=] {
    if (!*done) {
      QWidget* w = QApplication::activeModalWidget();
      // Acted on once it is shown and active (so its focus is where the
      // window puts it); a window that never becomes active is taken as it is.
      if (w && w->isVisible() && (w->isActiveWindow() || clock->elapsed() > 2000)) {
        *done = true;
        *acted = w;
        clock->restart();
        act(w);
      } else if (clock->elapsed() > 5000) {
        timer->stop();
        timer->deleteLater();
        delete clock;
      }
      return;
    }
    QWidget* w = acted->data();
    if (!w || !w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      delete clock;
      return;
    }
    if (clock->elapsed() > 3000) {
      if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      else w->close();
    }
  });
  timer->start();
}

// A private settings folder for one test: XDG_CONFIG_HOME points into a
// fresh folder, and back to the run's own folder afterwards.
class PrivateSettings {
 public:
  PrivateSettings() {
    old_ = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    std::string templ = (std::filesystem::temp_directory_path() / "cvgui-cfg-XXXXXX").string();
    if (!mkdtemp(templ.data())) std::abort();
    dir_ = templ;
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~PrivateSettings() {
    setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  PrivateSettings(const PrivateSettings&) = delete;
  PrivateSettings& operator=(const PrivateSettings&) = delete;
  const std::string& dir() const { return dir_; }

 private:
  std::string old_;
  std::string dir_;
};

// The access keys (the letter after a single '&') of the visible buttons,
// check boxes and labels with a buddy in `window`, each with the texts that
// carry it; the texts without one are listed under QChar().
inline std::map<QChar, QStringList> accessKeys(QWidget* window) {
  std::map<QChar, QStringList> keys;
  auto add = [&](const QString& text) {
    QChar key;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != QLatin1Char('&')) continue;
      if (text[i + 1] != QLatin1Char('&')) key = text[i + 1].toLower();
      ++i;
    }
    keys[key] << text;
  };
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
    if (b->isVisibleTo(window) && !b->text().isEmpty()) add(b->text());
  for (QLabel* l : window->findChildren<QLabel*>())
    if (l->isVisibleTo(window) && l->buddy()) add(l->text());
  return keys;
}

// Lets the event loop run for about `ms` milliseconds.
inline void spinEvents(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}
