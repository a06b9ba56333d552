#pragma once

#include <QRgb>
#include <QtGlobal>

// Rows between the 24-bit form of BMP files (blue, green, red) and QImage's 32-bit pixels.
// The window reads and writes every sheet through these; on processors with SSSE3 sixteen
// pixels go at a time.
void packRow24(const QRgb *in, uchar *out, qint64 count);
// Out pixels get alpha 0xFF.
void unpackRow24(const uchar *in, QRgb *out, qint64 count);

// The mask rule straight on 24-bit rows: each pixel equal to `transparent` (0x00RRGGBB)
// becomes `mask`, every other one `transparent`.
void maskRow24(const uchar *in, uchar *out, qint64 count, quint32 transparent, quint32 mask);
