#include "PictureChecks.h"

#include <algorithm>

RunError damaged(const QString &path, const QString &why)
{
    return RunError::of(RunError::DamagedPicture, path + QLatin1Char(' ') + why);
}

RunError invalidSize(const QString &path, qint64 w, qint64 h)
{
    return RunError::of(
        RunError::InvalidPicture,
        QStringLiteral("%1 is not a valid picture (%2 x %3 pixels)").arg(path).arg(w).arg(h));
}

void checkPixelCount(const QString &path, qint64 w, qint64 h)
{
    if (w * h > MaxPicturePixels)
        throw RunError::of(RunError::OutOfMemory,
                           QStringLiteral("%1 is %2 x %3 pixels, more than %4 x %4")
                               .arg(path)
                               .arg(w)
                               .arg(h)
                               .arg(MaxPictureSide));
}

void checkDeclaredSize(const QString &path, qint64 w, qint64 h, qint64 fileBytes,
                       qint64 pixelsPerByte)
{
    if (w <= 0 || h <= 0)
        throw invalidSize(path, w, h);
    checkPixelCount(path, w, h);
    if (w * h > pixelsPerByte * fileBytes)
        throw damaged(path,
                      QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                          .arg(w)
                          .arg(h)
                          .arg(fileBytes));
}

namespace
{

} // namespace

BmpLayout checkBmp(const Bytes &b, qint64 fileSize, const QString &path)
{
    const auto cut = [&] { return damaged(path, QStringLiteral("is cut short")); };
    if (fileSize < 18 || b.size() < 18)
        throw cut();
    BmpLayout bmp;
    bmp.headerSize = b.u32(14);
    const quint32 hs = bmp.headerSize;
    if (hs != 12 && hs != 40 && hs != 64 && hs != 108 && hs != 124)
        throw damaged(path, QStringLiteral("has a header of %1 bytes, which no BMP has").arg(hs));
    if (b.size() < 14 + qint64(hs))
        throw cut();
    const bool core = hs == 12;
    int planes;
    quint32 colorsUsed = 0;
    if (core) {
        bmp.width = qint16(b.u16(18));
        bmp.height = qint16(b.u16(20));
        planes = b.u16(22);
        bmp.bpp = b.u16(24);
    } else {
        bmp.width = qint32(b.u32(18));
        bmp.height = qint32(b.u32(22));
        planes = b.u16(26);
        bmp.bpp = b.u16(28);
        bmp.compression = b.u32(30);
        colorsUsed = b.u32(46);
    }
    if (bmp.width <= 0 || bmp.height == 0)
        throw invalidSize(path, bmp.width, bmp.height);
    checkPixelCount(path, bmp.width, bmp.rows());
    const int bpp = bmp.bpp;
    if (planes != 1 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        throw damaged(path,
                      QStringLiteral("has %1 bits per pixel in %2 planes").arg(bpp).arg(planes));
    const quint32 c = bmp.compression;
    if (!(c == BiRgb || (c == BiRle4 && bpp == 4) || (c == BiRle8 && bpp == 8) ||
          (c == BiBitfields && (bpp == 16 || bpp == 32))))
        throw RunError::of(RunError::InvalidPicture,
                           path + QStringLiteral(" is a BMP of a kind the program does not read "
                                                 "(compression %1 at %2 bits)")
                                      .arg(c)
                                      .arg(bpp));

    // Colour masks follow a 40-byte header; the later headers hold them.
    qint64 tablesEnd = 14 + hs;
    if (c == BiBitfields) {
        const qint64 masks = hs == 40 ? tablesEnd : 14 + 40;
        if (hs == 40)
            tablesEnd += 12;
        if (tablesEnd > b.size())
            throw cut();
        if ((b.u32(masks) | b.u32(masks + 4) | b.u32(masks + 8)) == 0)
            throw damaged(path, QStringLiteral("has no colour masks"));
    }
    if (bpp <= 8) {
        const qint64 colours = colorsUsed ? colorsUsed : 1 << bpp;
        if (colours > 256)
            throw damaged(path, QStringLiteral("has a palette of %1 colours").arg(colours));
        tablesEnd += colours * (core ? 3 : 4);
        if (tablesEnd > b.size())
            throw damaged(path, QStringLiteral("has a palette that runs past its end"));
    }
    bmp.offset = b.u32(10);
    if (bmp.offset < tablesEnd)
        throw damaged(path, QStringLiteral("has its pixels start inside its header"));
    if (bmp.offset >= fileSize)
        throw cut();

    const qint64 data = fileSize - bmp.offset;
    if (c == BiRle4 || c == BiRle8) {
        // A run is two bytes and paints at most 255 pixels.
        if (bmp.width * bmp.rows() > 255 * (data / 2))
            throw damaged(path,
                          QStringLiteral("declares %1 x %2 pixels, more than its %3 bytes can hold")
                              .arg(bmp.width)
                              .arg(bmp.rows())
                              .arg(fileSize));
    } else if (bmp.rowBytes() * bmp.rows() > data) {
        throw cut();
    }
    return bmp;
}

void bmpHeader(qint64 width, qint64 height, int bpp, int colours, char out[54])
{
    const qint64 rowBytes = ((width * bpp + 31) / 32) * 4, offset = 54 + 4 * colours;
    std::fill(out, out + 54, '\0');
    const auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, out + at); };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, quint32(offset + rowBytes * height));
    put32(10, quint32(offset));
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    qToLittleEndian<quint16>(1, out + 26);
    qToLittleEndian<quint16>(quint16(bpp), out + 28);
    put32(34, quint32(rowBytes * height));
    put32(38, 3780);
    put32(42, 3780);
    put32(46, quint32(colours));
    put32(50, quint32(colours));
}
