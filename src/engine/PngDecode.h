#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes a PNG file's bytes as Format_RGB32 (alpha dropped, 16-bit channels rounded to
// 8), or with `keepAlpha` as Format_ARGB32 with the file's alpha (transparent palette
// entries included). libpng's complaints become the RunError's text instead of lines on standard
// error, and the declared size is checked against `maxPixels` before the picture is allocated.
QImage decodePng(const QByteArray &data, const QString &path, qint64 maxPixels,
                 bool keepAlpha = false);
