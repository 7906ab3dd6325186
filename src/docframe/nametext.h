#pragma once
// File names as the windows show them. A name is bytes: valid UTF-8 is shown
// as it is; other bytes are decoded the way entry names are (as Windows-1252),
// so a name is never shown with replacement characters.

#include <QString>

#include <string>

#include "archive/extract/names.h"

// The text of a file name or path.
inline std::string FileNameUtf8(const std::string& bytes) {
  return archive::nameToUtf8(bytes, false);
}
inline QString FileNameText(const std::string& bytes) {
  return QString::fromStdString(FileNameUtf8(bytes));
}

// A text for a window caption: the toolkit takes "[*]" as the place of the
// modified marker and shows "[*][*]" as "[*]", so every "[*]" is doubled.
inline QString CaptionText(QString text) {
  text.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  return text;
}
