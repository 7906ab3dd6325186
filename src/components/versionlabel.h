#pragma once
// A label that reads "Version " followed by the program's file version.

#include <QLabel>
#include <QString>

class TVersionLabel : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QString Version READ GetVersion)

 public:
  explicit TVersionLabel(QWidget* parent = nullptr);

  // The file version ("2.0.3.0"), a constant of the build; read once and cached.
  QString GetVersion();

  // Sets the caption from the version; the constructor calls it.
  void Loaded();

 private:
  QString version_;
  bool versionRead_ = false;
};
