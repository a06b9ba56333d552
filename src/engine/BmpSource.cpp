#include "PictureSource.h"

#include "PictureChecks.h"
#include "PixelRows.h"
#include "RunError.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>

namespace
{

// Rows are read into memory the thread keeps from file to file: fresh memory for every
// sprite of a batch would cost a page fault every 4 KiB.
struct ThreadBlock {
    std::vector<uchar> bytes;
    bool taken = false;
};
thread_local ThreadBlock t_block;

// The thread's block while no other source of the thread holds it, else one of its own.
class BlockLease
{
public:
    BlockLease() : m_leased(!std::exchange(t_block.taken, true)) {}
    ~BlockLease()
    {
        if (m_leased)
            t_block.taken = false;
    }
    std::vector<uchar> &bytes() { return m_leased ? t_block.bytes : m_own; }

private:
    bool m_leased;
    std::vector<uchar> m_own;
};

// One colour channel of a bit-field pixel in 8 bits: a narrower channel is shifted up (a full
// 5-bit channel gives 248, as sprites of 16-bit BMPs have always shown and been picked from
// with the eyedropper); a wider one keeps its top 8 bits.
struct Channel {
    quint32 mask = 0;
    int shift = 0, bits = 0;

    Channel() = default;
    explicit Channel(quint32 m) : mask(m)
    {
        if (!mask)
            return;
        while (!((mask >> shift) & 1))
            ++shift;
        while (shift + bits < 32 && ((mask >> (shift + bits)) & 1))
            ++bits;
    }
    uint operator()(quint32 pixel) const
    {
        const uint v = (pixel & mask) >> shift;
        return bits >= 8 ? (v >> (bits - 8)) & 0xFF : v << (8 - bits);
    }
};

class BmpSource final : public PictureSource
{
public:
    BmpSource(InputFile &file, const QString &path);

    void start(RowLayout layout, bool topDown) override;
    Band nextBand(int maxRows) override;
    void readBand(uchar *out, qsizetype stride) override;
    const uchar *band(const Band &band, RowLayout layout, qsizetype &stride) override;
    void finish() override { m_file.checkUnchanged(); }

private:
    bool runLengths() const { return m_bmp.compression == BiRle4 || m_bmp.compression == BiRle8; }
    const uchar *fileRows(qsizetype &stride);
    void decodeRow(const uchar *in, uchar *out);
    void paletteRow(const uchar *indices, uchar *out);
    void runLengthRow(uchar *indices);
    uchar streamByte();
    RunError badIndex() const
    {
        return damaged(m_path, QStringLiteral("has a pixel whose colour is past its palette"));
    }

    BmpLayout m_bmp;
    RowLayout m_layout = RowLayout::Bgrx32;
    bool m_fileBottomUp = true;
    bool m_whole = false; // the whole file is in the block
    BlockLease m_lease;
    std::vector<uchar> &m_block;
    int m_colours = 0;
    std::array<QRgb, 256> m_palette{};
    Channel m_red, m_green, m_blue, m_alphaField;
    bool m_fields = false;
    std::vector<uchar> m_indices, m_wide; // one row of palette indices, one of 32-bit pixels

    Band m_band;
    int m_delivered = 0;

    // Run-length state: rows come out in the file's order, bottom-up.
    std::unique_ptr<StreamReader> m_stream;
    int m_blankRows = 0; // rows a jump passed over, still to come out unpainted
    int m_startX = 0;    // where a jump left the next row's first pixel
    bool m_ended = false;
    int m_rowsMade = 0;
};

BmpSource::BmpSource(InputFile &file, const QString &path)
    : PictureSource(file, path), m_block(m_lease.bytes())
{
    const qint64 have = std::min(file.size(), BlockBytes);
    if (qint64(m_block.size()) < have)
        m_block.resize(size_t(have));
    file.readAt(0, reinterpret_cast<char *>(m_block.data()), have);
    const Bytes head(m_block.data(), have);
    m_bmp = checkBmp(head, file.size(), path);
    m_whole = have == file.size();
    m_width = int(m_bmp.width);
    m_height = int(m_bmp.rows());
    m_fileBottomUp = m_bmp.height > 0;
    m_reversible = !runLengths();
    m_topDown = !m_fileBottomUp;

    const int bpp = m_bmp.bpp;
    const bool core = m_bmp.headerSize == 12;
    m_native = bpp == 24 ? RowLayout::Bgr24 : RowLayout::Bgrx32;
    if (bpp <= 8) {
        const quint32 used = core ? 0 : head.u32(46);
        m_colours = used ? int(used) : 1 << bpp;
        const qint64 at = 14 + m_bmp.headerSize, entry = core ? 3 : 4;
        for (int i = 0; i < m_colours; ++i) {
            const uchar *c = head.at(at + i * entry);
            m_palette[size_t(i)] = qRgb(c[2], c[1], c[0]);
        }
        m_indices.resize(size_t(m_width) + 8);
    } else if (m_bmp.compression == BiBitfields) {
        // The masks follow a 40-byte header, and stand inside the later ones.
        m_red = Channel(head.u32(54));
        m_green = Channel(head.u32(58));
        m_blue = Channel(head.u32(62));
        if (m_bmp.headerSize >= 108)
            m_alphaField = Channel(head.u32(66));
        m_fields = true;
    } else if (bpp == 16) {
        m_red = Channel(0x7C00);
        m_green = Channel(0x03E0);
        m_blue = Channel(0x001F);
        m_fields = true;
    }
    m_alpha = m_alphaField.mask != 0;
}

void BmpSource::start(RowLayout layout, bool topDown)
{
    m_layout = layout;
    if (m_reversible)
        m_topDown = topDown;
    if (layout == RowLayout::Bgr24 && m_bmp.bpp != 24)
        m_wide.resize(size_t(m_width));
    if (runLengths())
        m_stream = std::make_unique<StreamReader>(m_file, m_bmp.offset);
}

Band BmpSource::nextBand(int maxRows)
{
    const int left = m_height - m_delivered;
    // Rows of a block of the file at a time, unless the whole file is in memory already.
    const qint64 perBlock = m_whole ? left : std::max<qint64>(1, BlockBytes / m_bmp.rowBytes());
    const int n = int(std::min<qint64>({qint64(maxRows), qint64(left), perBlock}));
    m_band = {};
    m_band.rows = n;
    m_band.pixels = m_width;
    m_band.dy = m_topDown ? 1 : -1;
    m_band.y0 = m_topDown ? m_delivered : m_height - 1 - m_delivered;
    return m_band;
}

// The file's rows of the current band, in the order the band wants them: bottom-up files
// store their last row first, so a band going the other way runs backwards through them.
const uchar *BmpSource::fileRows(qsizetype &stride)
{
    const qint64 rowBytes = m_bmp.rowBytes(), n = m_band.rows;
    const qint64 firstFileRow = m_fileBottomUp ? m_height - 1 - m_band.y0 : m_band.y0;
    const bool forwards = m_band.dy == (m_fileBottomUp ? -1 : 1);
    const qint64 lowest = forwards ? firstFileRow : firstFileRow - (n - 1);
    const qint64 at = m_bmp.offset + lowest * rowBytes;
    const uchar *rows;
    if (m_whole) {
        rows = m_block.data() + at;
    } else {
        if (qint64(m_block.size()) < n * rowBytes)
            m_block.resize(size_t(n * rowBytes));
        m_file.readAt(at, reinterpret_cast<char *>(m_block.data()), n * rowBytes);
        rows = m_block.data();
    }
    stride = qsizetype(forwards ? rowBytes : -rowBytes);
    return forwards ? rows : rows + (n - 1) * rowBytes;
}

const uchar *BmpSource::band(const Band &band, RowLayout layout, qsizetype &stride)
{
    // Plain 24-bit rows are handed out as the file holds them.
    if (!runLengths() && m_bmp.bpp == 24 && layout == RowLayout::Bgr24) {
        const uchar *rows = fileRows(stride);
        m_delivered += band.rows;
        return rows;
    }
    return PictureSource::band(band, layout, stride);
}

void BmpSource::readBand(uchar *out, qsizetype stride)
{
    if (runLengths()) {
        for (int r = 0; r < m_band.rows; ++r) {
            runLengthRow(m_indices.data());
            paletteRow(m_indices.data(), out + r * stride);
        }
    } else {
        qsizetype inStride;
        const uchar *in = fileRows(inStride);
        for (int r = 0; r < m_band.rows; ++r)
            decodeRow(in + r * inStride, out + r * stride);
    }
    m_delivered += m_band.rows;
}

void BmpSource::decodeRow(const uchar *in, uchar *out)
{
    const int w = m_width, bpp = m_bmp.bpp;
    if (bpp == 24) {
        if (m_layout == RowLayout::Bgr24)
            std::memcpy(out, in, size_t(w) * 3);
        else
            unpackRow24(in, reinterpret_cast<QRgb *>(out), w);
        return;
    }
    if (bpp <= 8) {
        // Indices unpacked most significant bits first.
        uchar *ix = m_indices.data();
        if (bpp == 8) {
            std::memcpy(ix, in, size_t(w));
        } else {
            const int perByte = 8 / bpp, mask = (1 << bpp) - 1;
            for (int x = 0; x < w; ++x)
                ix[x] = uchar((in[x / perByte] >> (8 - bpp * (x % perByte + 1))) & mask);
        }
        paletteRow(ix, out);
        return;
    }
    QRgb *px = m_layout == RowLayout::Bgr24 ? reinterpret_cast<QRgb *>(m_wide.data())
                                            : reinterpret_cast<QRgb *>(out);
    const bool keepAlpha = m_layout == RowLayout::Bgra32 && m_alphaField.mask;
    if (m_fields) {
        for (int x = 0; x < w; ++x) {
            const quint32 p = bpp == 16 ? qFromLittleEndian<quint16>(in + 2 * x)
                                        : qFromLittleEndian<quint32>(in + 4 * x);
            px[x] = qRgba(int(m_red(p)), int(m_green(p)), int(m_blue(p)),
                          keepAlpha ? int(m_alphaField(p)) : 255);
        }
    } else { // 32 bits: blue, green, red and a byte that is no alpha
        for (int x = 0; x < w; ++x)
            px[x] = qFromLittleEndian<quint32>(in + 4 * x) | 0xFF000000u;
    }
    if (m_layout == RowLayout::Bgr24)
        packRow24(px, out, w);
}

void BmpSource::paletteRow(const uchar *indices, uchar *out)
{
    const int w = m_width;
    uchar highest = 0;
    for (int x = 0; x < w; ++x)
        highest = std::max(highest, indices[x]);
    if (highest >= m_colours)
        throw badIndex();
    if (m_layout == RowLayout::Bgr24) {
        for (int x = 0; x < w; ++x) {
            const QRgb c = m_palette[indices[x]];
            out[3 * x] = uchar(qBlue(c));
            out[3 * x + 1] = uchar(qGreen(c));
            out[3 * x + 2] = uchar(qRed(c));
        }
    } else {
        QRgb *px = reinterpret_cast<QRgb *>(out);
        for (int x = 0; x < w; ++x)
            px[x] = m_palette[indices[x]];
    }
}

uchar BmpSource::streamByte()
{
    uchar b;
    if (m_stream->read(&b, 1) != 1)
        throw damaged(m_path, QStringLiteral("is cut short"));
    return b;
}

// The next row of a run-length picture, in the file's order. Pixels the stream does not
// paint (passed over by a jump, or left at an early end of line) take palette colour 0;
// runs past a row's end are cut there. A stream that ends before its last row, or is cut
// off, is damage.
void BmpSource::runLengthRow(uchar *indices)
{
    const int w = m_width;
    std::memset(indices, 0, size_t(w));
    ++m_rowsMade;
    if (m_blankRows > 0 || m_ended) {
        m_blankRows -= m_blankRows > 0;
        return;
    }
    const bool four = m_bmp.compression == BiRle4;
    int x = std::exchange(m_startX, 0);
    const auto paint = [&](int count, uchar a, uchar b) {
        for (int i = 0; i < count && x < w; ++i, ++x)
            indices[x] = four ? (i & 1 ? b : a) : a;
    };
    for (;;) {
        const uchar count = streamByte(), code = streamByte();
        if (count > 0) {
            paint(count, four ? uchar(code >> 4) : code, uchar(code & 0x0F));
            continue;
        }
        switch (code) {
        case 0: return; // end of line
        case 1:         // end of picture
            if (m_rowsMade < m_height)
                throw damaged(m_path, QStringLiteral("ends before its last row"));
            m_ended = true;
            return;
        case 2: { // a jump right and up
            const int dx = streamByte(), dy = streamByte();
            x = std::min(w, x + dx);
            if (dy > 0) {
                m_blankRows = dy - 1;
                m_startX = x;
                return;
            }
            break;
        }
        default: { // `code` literal pixels, padded to a whole number of 16-bit words
            int bytes = four ? (code + 1) / 2 : code;
            for (int i = 0; i < bytes; ++i) {
                const uchar b = streamByte();
                if (four)
                    paint(std::min(2, code - 2 * i), uchar(b >> 4), uchar(b & 0x0F));
                else
                    paint(1, b, 0);
            }
            if (bytes & 1)
                streamByte();
        }
        }
    }
}

} // namespace

std::unique_ptr<PictureSource> openBmp(InputFile &file, const QString &path)
{
    return std::make_unique<BmpSource>(file, path);
}
