#include "components/versionlabel.h"

#include "version.h"

TVersionLabel::TVersionLabel(QWidget* parent) : QLabel(parent) { Loaded(); }

QString TVersionLabel::GetVersion() {
  if (!versionRead_) {
    version_ = QStringLiteral(CARRYVALE_VERSION);
    versionRead_ = true;
  }
  return version_;
}

void TVersionLabel::Loaded() { setText(QStringLiteral("Version ") + GetVersion()); }
