#pragma once

#include "FileOps.h"

#include <QImage>
#include <QString>

// The largest picture the program takes: a 16384 x 16384 sheet. Larger ones are refused
// before any memory is allocated for them.
constexpr qint64 MaxPictureSide = 16384;
constexpr qint64 MaxPicturePixels = MaxPictureSide * MaxPictureSide;

// Reads a picture file (BMP, PNG, JPEG, GIF, TGA) as Format_RGB32, through the same sources
// as the command line's file job (PictureSource.h). The file is read, never mapped, and
// checked before anything of the picture's declared size is allocated. Raises RunError:
// FileNotFound when nothing is there, NotARegularFile for a folder or a FIFO, InvalidPicture
// when the file is not a picture of a format the program reads (or has no valid size),
// DamagedPicture when it is cut short, broken, or changed while it was read, OutOfMemory
// when it is too large; the decoder's complaint goes into the message.
// With `alpha` Keep the picture comes as Format_ARGB32 (not premultiplied) with the file's
// alpha channel, opaque where the file has none; the default keeps the fast opaque path.
enum class PictureAlpha { Drop, Keep };
// `reuse`, when given, may be taken over (left null) to hold the picture if it has the
// same size and format: only once the file is known to be whole, so a failed read leaves
// it as it was.
QImage readPicture(const QString &path, PictureAlpha alpha = PictureAlpha::Drop,
                   QImage *reuse = nullptr);
// The same for a file's bytes already in memory; `path` names the file in messages.
QImage decodePicture(const QByteArray &data, const QString &path,
                     PictureAlpha alpha = PictureAlpha::Drop, QImage *reuse = nullptr);

// A file-list pattern for every picture the reader reads ("*.bmp;*.gif;...").
QString pictureFilePattern();

// Writes a picture as BMP data, whatever the name's extension says, whole or not at all.
void writeBmp(const QImage &picture, const QString &path, Existing existing = Existing::Replace);
