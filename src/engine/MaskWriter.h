#pragma once

#include "FileOps.h"

#include <QRgb>
#include <QString>

#include <memory>
#include <vector>

// The file a mask is written as. A 24-bit BMP is what the window writes (writeBmp), byte for
// byte; the 1-bit kinds hold a two-colour palette, the mask colour first and the
// transparency colour second.
enum class MaskFormat { Bmp, Png };

struct MaskOutput {
    MaskFormat format = MaskFormat::Bmp;
    int depth = 24; // 24 or 1
};

// Where a mask goes: the file `path`, written under `existing`; or, with `fd` set, an open file
// the caller keeps (an unnamed scratch file), `path` then only naming it in messages.
struct MaskTarget {
    QString path;
    Existing existing = Existing::Keep;
    int fd = -1;
};

// Writes a mask file row band by row band, whole or not at all (a WholeFileWriter under the
// target's `existing` policy). Rows come as the sink wants them: 24-bit masks as blue, green, red
// per pixel; 1-bit masks packed most significant bit first, a bit set for every pixel that is not
// the mask colour. A BMP takes its bands in either order; a PNG only top-down. The rows are kept in
// `buffer`, the caller's, so that its memory serves file after file.
class MaskSink
{
public:
    static std::unique_ptr<MaskSink> create(const MaskTarget &target, MaskOutput kind, int width,
                                            int height, QRgb mask, QRgb transparent,
                                            std::vector<uchar> &buffer);
    virtual ~MaskSink() = default;

    bool takesBits() const { return m_depth == 1; }
    virtual bool takesBottomUp() const = 0;

    // A band of `rows` consecutive picture rows from `y0`, going down (dy 1) or up (-1):
    // fill row(r) for each, then endBand().
    void beginBand(int y0, int dy, int rows);
    uchar *row(int r) { return m_rows.data() + m_front + slot(r) * m_rowBytes; }
    virtual void endBand() = 0;
    // The file gets its name.
    virtual void commit() = 0;

protected:
    MaskSink(const MaskTarget &target, int depth, int width, int height, qsizetype rowBytes,
             std::vector<uchar> &buffer);
    virtual qsizetype slot(int r) const { return r; }

    WholeFileWriter m_out;
    QString m_path;
    int m_depth, m_width, m_height;
    qsizetype m_rowBytes;
    qsizetype m_front = 0; // bytes before the rows in the buffer, the sink's own
    int m_y0 = 0, m_dy = 1, m_bandRows = 0;
    std::vector<uchar> &m_rows;
};

// One 1-bit row from a 24-bit one: a bit set for every pixel that is not `mask` (0xRRGGBB).
void packMaskBits(const uchar *bgr, qint64 count, quint32 mask, uchar *bits);
