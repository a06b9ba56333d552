#pragma once

#include "FileOps.h"

#include <QImage>
#include <QString>

// The file a mask is written as. Bmp24 is what the window writes (writeBmp); the 1-bit kinds
// hold a two-colour palette, the mask colour first and the transparency colour second, and
// every pixel that is not the mask colour is written as the transparency colour.
enum class MaskFormat { Bmp, Png };

struct MaskOutput {
    MaskFormat format = MaskFormat::Bmp;
    int depth = 24; // 24 or 1
};

// Writes a Format_RGB32 mask made of the two colours `mask` and `transparent` (QRgb), whole
// or not at all, under the `existing` policy of writeFileWhole.
void writeMask(const QImage &picture, const QString &path, MaskOutput kind, QRgb mask,
               QRgb transparent, Existing existing = Existing::Replace);
