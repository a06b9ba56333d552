#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <png.h>

// Decodes a PNG file's bytes as Format_RGB32 (alpha dropped, 16-bit channels rounded to
// 8), or with `keepAlpha` as Format_ARGB32 with the file's alpha (transparent palette
// entries included). libpng's complaints become the RunError's text instead of lines on standard
// error, and the declared size is checked against `maxPixels` before the picture is allocated.
QImage decodePng(const QByteArray &data, const QString &path, qint64 maxPixels,
                 bool keepAlpha = false);

// libpng's error and warning callbacks, for reading and writing alike. The error pointer
// given to libpng is the QString that keeps the first complaint; the error then ends in
// libpng's longjmp. Warnings (a damaged ancillary chunk, say) leave the pixels whole.
[[noreturn]] void keepPngComplaint(png_structp png, png_const_charp message);
void ignorePngWarning(png_structp png, png_const_charp message);
