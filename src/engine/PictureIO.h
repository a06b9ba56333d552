#pragma once

#include <QImage>
#include <QString>

// The largest picture the program takes: a 16384 x 16384 sheet. Larger ones are refused
// before any memory is allocated for them.
constexpr qint64 MaxPicturePixels = 16384LL * 16384LL;

// Reads a picture file (BMP, JPEG, GIF, PNG and whatever else Qt reads) as Format_RGB32.
// Raises RunError: FileNotFound when nothing is there, InvalidPicture when the file is
// not a picture or is damaged or cut short, OutOfMemory when it is too large.
QImage readPicture(const QString &path);

// A file-list pattern for every picture the reader reads ("*.bmp;*.gif;...").
QString pictureFilePattern();

// Writes a picture as BMP data, whatever the name's extension says, whole or not at all.
void writeBmp(const QImage &picture, const QString &path);
