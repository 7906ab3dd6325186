#pragma once
// JPEG pictures decoded with libjpeg. The program's own pictures are stored as
// JPEG data and turned into images here, without the toolkit's image plug-ins.

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes JPEG data into an RGB image. On damaged or foreign data the result
// is a null image and *error (when given) says why; nothing is thrown.
QImage decodeJpeg(const QByteArray& data, QString* error = nullptr);

// Reads a file (or a ":/" resource) and decodes it as above.
QImage loadJpeg(const QString& path, QString* error = nullptr);
