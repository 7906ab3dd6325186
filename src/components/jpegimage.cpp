#include "components/jpegimage.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return;
// it jumps back to the decoder with the library's own message.
struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void jpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings of damaged but still readable data are not worth a line on stderr.
extern "C" void jpegQuiet(j_common_ptr) {}

// The decoded pixels, tightly packed RGB rows, owned by malloc.
struct RawPicture {
  unsigned char* pixels = nullptr;
  unsigned width = 0;
  unsigned height = 0;
};

// Only C objects live in this frame, so the jump back from the error handler
// skips no destructor. Returns false with err->message filled on failure.
bool decodeRaw(const unsigned char* data, unsigned long size, RawPicture* out, JpegError* err) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = jpegErrorExit;
  err->mgr.output_message = jpegQuiet;
  err->message[0] = '\0';
  if (setjmp(err->jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::free(out->pixels);
    out->pixels = nullptr;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, size);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3 || cinfo.output_width == 0 || cinfo.output_height == 0 ||
      cinfo.output_width > 16384 || cinfo.output_height > 16384) {
    std::snprintf(err->message, sizeof err->message, "unsupported picture layout");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const size_t stride = size_t(cinfo.output_width) * 3;
  out->width = cinfo.output_width;
  out->height = cinfo.output_height;
  out->pixels = static_cast<unsigned char*>(std::malloc(stride * cinfo.output_height));
  if (!out->pixels) {
    std::snprintf(err->message, sizeof err->message, "out of memory");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->pixels + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

QImage decodeJpeg(const QByteArray& data, QString* error) {
  if (data.isEmpty()) {
    if (error) *error = QStringLiteral("no picture data");
    return {};
  }
  RawPicture raw;
  JpegError err;
  if (!decodeRaw(reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()), &raw, &err)) {
    if (error) *error = QString::fromLocal8Bit(err.message);
    return {};
  }
  QImage image(int(raw.width), int(raw.height), QImage::Format_RGB888);
  const size_t stride = size_t(raw.width) * 3;
  for (unsigned y = 0; y < raw.height; ++y)
    std::memcpy(image.scanLine(int(y)), raw.pixels + stride * y, stride);
  std::free(raw.pixels);
  if (error) error->clear();
  return image;
}

QImage loadJpeg(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return {};
  }
  return decodeJpeg(file.readAll(), error);
}
