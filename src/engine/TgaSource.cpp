// TGA (Truevision) pictures: colour-mapped (8-bit indices into a map of 15-, 16-, 24- or
// 32-bit entries), grayscale (8 bits, or 16 with alpha) and true colour (15, 16, 24 or 32
// bits), uncompressed or run-length encoded, rows from the top or from the bottom, pixels
// from the left or from the right.
//
// Alpha. A pixel's attribute bits (the top bit of a 16-bit value, the fourth byte of a 32-bit
// one, the second byte of a 16-bit grayscale one, and the same bits of colour map entries)
// are alpha exactly when the file says so: by the attributes type of its TGA 2.0 extension
// area when it has one (3 alpha, 4 premultiplied alpha; 0, 1 and 2 something else), or else
// by a nonzero count of alpha bits in the header's descriptor. ImageMagick, Pillow and GIMP
// read the fourth byte of every 32-bit file as alpha even where the descriptor counts none;
// this reader does not, for the same reason it ignores the top bit of a 16-bit file that
// counts none: opaque files leave those bits 0 (ImageMagick's 16-bit ones do) or at random,
// and taken for alpha they would make a picture vanish under an alpha rule. A picture read
// without its alpha keeps every colour either way.
//
// Five-bit channels become eight bits as (v << 3) | (v >> 2): 0 stays 0, 31 becomes 255,
// and every value is within one of v * 255 / 31.
//
// Run-length packets may run on from one row into the next (the format asks writers not to,
// many do anyway), but not past the picture's last pixel.

#include "PictureSource.h"

#include "PictureChecks.h"
#include "PixelRows.h"
#include "RunError.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace
{

constexpr int HeaderBytes = 18, FooterBytes = 26, ExtensionBytes = 495;

bool hasFooter(const QByteArray &tail)
{
    return tail.size() == FooterBytes &&
           tail.mid(8) == QByteArray::fromRawData("TRUEVISION-XFILE.\0", 18);
}

enum ImageKind { ColourMapped = 1, TrueColour = 2, Grayscale = 3 };

struct TgaHeader {
    int idLength, mapType, type, mapFirst, mapLength, mapBits, width, height, depth, descriptor;

    explicit TgaHeader(const uchar *h)
        : idLength(h[0]), mapType(h[1]), type(h[2]), mapFirst(qFromLittleEndian<quint16>(h + 3)),
          mapLength(qFromLittleEndian<quint16>(h + 5)), mapBits(h[7]),
          width(qFromLittleEndian<quint16>(h + 12)), height(qFromLittleEndian<quint16>(h + 14)),
          depth(h[16]), descriptor(h[17])
    {
    }
    int kind() const { return type & 7; }
    bool rle() const { return type & 8; }
    int alphaBits() const { return descriptor & 15; }
    int pixelBytes() const { return (depth + 7) / 8; }
    int mapEntryBytes() const { return (mapBits + 7) / 8; }
    qint64 dataStart() const
    {
        return HeaderBytes + idLength + (mapType ? qint64(mapLength) * mapEntryBytes() : 0);
    }
    // Whether the pixels, or the colour map entries they index, have attribute bits.
    bool hasAttributeBits() const
    {
        return kind() == ColourMapped ? mapBits == 16 || mapBits == 32 : depth == 16 || depth == 32;
    }
};

// Why a header is not one a TGA can have: empty when each field holds a value a TGA may.
QString headerFault(const TgaHeader &t)
{
    const int kind = t.kind();
    if ((t.type & ~8) != kind || kind < ColourMapped || kind > Grayscale)
        return QStringLiteral("has TGA image type %1, which does not exist").arg(t.type);
    if (t.mapType > 1)
        return QStringLiteral("has colour map type %1, which does not exist").arg(t.mapType);
    if ((t.mapType == 1) != (kind == ColourMapped))
        return kind == ColourMapped ? QStringLiteral("has colour indices but no colour map")
                                    : QStringLiteral("has a colour map but no colour indices");
    if (t.mapType == 1 && t.mapBits != 15 && t.mapBits != 16 && t.mapBits != 24 && t.mapBits != 32)
        return QStringLiteral("has colour map entries of %1 bits").arg(t.mapBits);
    const int d = t.depth;
    const bool depthFits = kind == ColourMapped ? d == 8 || d == 16
                           : kind == TrueColour ? d == 15 || d == 16 || d == 24 || d == 32
                                                : d == 1 || d == 8 || d == 16;
    if (!depthFits)
        return QStringLiteral("has %1 bits per pixel, which no TGA of image type %2 has")
            .arg(d)
            .arg(t.type);
    if (t.alphaBits() > 8)
        return QStringLiteral("declares %1 alpha bits per pixel").arg(t.alphaBits());
    return {};
}

// The layouts of the file's pixels, each decoded by its own loop.
enum class Pixels { Gray8, GrayAlpha16, Index8, Rgb555, Bgr24, Bgra32 };

struct Decoding {
    const quint32 *palette = nullptr; // 256 entries, 0xAARRGGBB, by raw index
    unsigned mapFirst = 0, mapCount = 0;
    quint32 force = 0; // ORed into every pixel: 0xFF000000 where alpha is not kept
    bool premultiplied = false;
};

inline quint32 expand5(quint32 v)
{
    return (v << 3) | (v >> 2);
}

// A 16-bit 5-5-5 value, its top bit taken for alpha (1 opaque); `force` decides whether
// that counts.
inline quint32 rgb555(quint32 v)
{
    return (v & 0x8000 ? 0xFF000000u : 0u) | expand5((v >> 10) & 31) << 16 |
           expand5((v >> 5) & 31) << 8 | expand5(v & 31);
}

template <Pixels P> constexpr int inBytes()
{
    return P == Pixels::Gray8 || P == Pixels::Index8         ? 1
           : P == Pixels::GrayAlpha16 || P == Pixels::Rgb555 ? 2
           : P == Pixels::Bgr24                              ? 3
                                                             : 4;
}

template <Pixels P> inline quint32 load(const uchar *p, const Decoding &d, unsigned &bad)
{
    if constexpr (P == Pixels::Gray8) {
        return 0xFF000000u | p[0] * 0x010101u;
    } else if constexpr (P == Pixels::GrayAlpha16) {
        const quint32 v = quint32(p[1]) << 24 | p[0] * 0x010101u;
        return d.premultiplied ? qUnpremultiply(v) : v;
    } else if constexpr (P == Pixels::Index8) {
        bad |= unsigned(unsigned(p[0]) - d.mapFirst >= d.mapCount);
        return d.palette[p[0]];
    } else if constexpr (P == Pixels::Rgb555) {
        return rgb555(qFromLittleEndian<quint16>(p));
    } else if constexpr (P == Pixels::Bgr24) {
        return 0xFF000000u | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
    } else {
        const quint32 v = qFromLittleEndian<quint32>(p);
        return d.premultiplied ? qUnpremultiply(v) : v;
    }
}

// `n` pixels of the file at `in` into `out`, `OutBytes` per pixel (Bgr24 or a 32-bit layout).
// `bad` becomes nonzero for a colour index outside the colour map.
template <Pixels P, int OutBytes>
void decodeRow(const uchar *in, uchar *out, int n, const Decoding &d, unsigned &bad)
{
    for (int i = 0; i < n; ++i) {
        const quint32 v = load<P>(in + i * inBytes<P>(), d, bad) | d.force;
        if constexpr (OutBytes == 4) {
            qToLittleEndian(v, out + 4 * i);
        } else {
            out[3 * i] = uchar(v);
            out[3 * i + 1] = uchar(v >> 8);
            out[3 * i + 2] = uchar(v >> 16);
        }
    }
}

template <Pixels P>
void decodeTo(bool wide, const uchar *in, uchar *out, int n, const Decoding &d, unsigned &bad)
{
    if (wide)
        decodeRow<P, 4>(in, out, n, d, bad);
    else
        decodeRow<P, 3>(in, out, n, d, bad);
}

// A row's pixels in the opposite order, for files stored right to left.
void mirror(uchar *row, int n, int bytes)
{
    for (int a = 0, b = n - 1; a < b; ++a, --b)
        std::swap_ranges(row + a * bytes, row + (a + 1) * bytes, row + b * bytes);
}

class TgaSource : public PictureSource
{
public:
    TgaSource(InputFile &file, const QString &path);

    void start(RowLayout layout, bool topDown) override;
    Band nextBand(int maxRows) override;
    void readBand(uchar *out, qsizetype stride) override;
    void finish() override { m_file.checkUnchanged(); }

private:
    void readMap(const TgaHeader &t);
    void convert(const uchar *in, uchar *out, int n);
    void readRows(uchar *out, qsizetype stride);
    void decodeRuns(uchar *out, qsizetype stride);
    const uchar *need(int bytes);
    [[noreturn]] void cutShort() const { throw damaged(m_path, QStringLiteral("is cut short")); }

    // The file's pixels: where they start and end (before any TGA 2.0 areas), how they are
    // stored.
    qint64 m_dataStart = 0, m_dataEnd = 0;
    Pixels m_pixels = Pixels::Bgr24;
    int m_pixelBytes = 0;
    bool m_rle = false, m_fileTopDown = false, m_rightToLeft = false;

    std::array<quint32, 256> m_palette{};
    Decoding m_decoding;
    RowLayout m_layout = RowLayout::Bgrx32;

    // Rows handed out so far, and the band nextBand() described.
    int m_done = 0;
    Band m_band;

    // File bytes: whole rows of an uncompressed file, or the run-length stream's bytes from
    // m_at to m_end, the next ones at file position m_next.
    std::vector<uchar> m_block;
    qint64 m_at = 0, m_end = 0, m_next = 0;
    // The run-length packet in progress: pixels left, and for a run its pixel, converted.
    int m_left = 0;
    bool m_run = false;
    uchar m_runPixel[4] = {};
};

TgaSource::TgaSource(InputFile &file, const QString &path) : PictureSource(file, path)
{
    const qint64 size = file.size();
    if (size < HeaderBytes)
        cutShort();
    uchar head[HeaderBytes];
    file.readAt(0, reinterpret_cast<char *>(head), HeaderBytes);
    const TgaHeader t(head);
    if (const QString fault = headerFault(t); !fault.isEmpty())
        throw damaged(path, fault);
    const auto unread = [&](const char *what) {
        return RunError::of(RunError::InvalidPicture,
                            path +
                                QStringLiteral(" is a TGA of a kind the program does not read (") +
                                QLatin1String(what) + ')');
    };
    if (t.descriptor & 0xC0)
        throw unread("interleaved rows");
    if (t.kind() == ColourMapped && t.depth != 8)
        throw unread("16-bit colour indices");
    if (t.kind() == Grayscale && t.depth == 1)
        throw unread("1 bit per pixel");

    // A TGA 2.0 file ends in a footer, which may point to an extension area after the pixels.
    m_dataStart = t.dataStart();
    m_dataEnd = size;
    int attributesType = -1;
    if (size >= HeaderBytes + FooterBytes) {
        QByteArray tail(FooterBytes, Qt::Uninitialized);
        file.readAt(size - FooterBytes, tail.data(), FooterBytes);
        if (hasFooter(tail)) {
            m_dataEnd = size - FooterBytes;
            const qint64 extension = qFromLittleEndian<quint32>(tail.constData());
            if (extension != 0) {
                if (extension < m_dataStart || extension + ExtensionBytes > m_dataEnd)
                    throw damaged(path,
                                  QStringLiteral("has a TGA 2.0 extension area out of place"));
                uchar fields[ExtensionBytes];
                file.readAt(extension, reinterpret_cast<char *>(fields), ExtensionBytes);
                const int declared = qFromLittleEndian<quint16>(fields);
                if (declared < ExtensionBytes)
                    throw damaged(
                        path,
                        QStringLiteral("has a TGA 2.0 extension area of %1 bytes").arg(declared));
                attributesType = fields[ExtensionBytes - 1];
                m_dataEnd = extension;
            }
        }
    }
    if (m_dataStart > m_dataEnd)
        throw damaged(path, t.mapType ? QStringLiteral("has a colour map past its end")
                                      : QStringLiteral("is cut short"));

    // Nothing of the picture's size is allocated before its pixels are known to fit the file:
    // uncompressed they must all be there; run-length encoded, a packet of one header byte
    // and one pixel paints at most 128 pixels.
    m_rle = t.rle();
    m_pixelBytes = t.pixelBytes();
    const qint64 dataBytes = m_dataEnd - m_dataStart;
    const qint64 w = t.width, h = t.height;
    checkDeclaredSize(path, w, h, dataBytes, m_rle ? (128 + m_pixelBytes) / (1 + m_pixelBytes) : 1);
    if (!m_rle && w * h * m_pixelBytes > dataBytes)
        cutShort();

    m_width = t.width;
    m_height = t.height;
    m_fileTopDown = t.descriptor & 0x20;
    m_rightToLeft = t.descriptor & 0x10;
    m_alpha =
        t.hasAttributeBits() &&
        (attributesType >= 0 ? attributesType == 3 || attributesType == 4 : t.alphaBits() > 0);
    switch (t.kind()) {
    case ColourMapped: m_pixels = Pixels::Index8; break;
    case Grayscale: m_pixels = t.depth == 8 ? Pixels::Gray8 : Pixels::GrayAlpha16; break;
    default:
        m_pixels = t.depth == 24 ? Pixels::Bgr24 : t.depth == 32 ? Pixels::Bgra32 : Pixels::Rgb555;
    }
    // A one-bit alpha has nothing to undo.
    m_decoding.premultiplied =
        m_alpha && attributesType == 4 &&
        (m_pixels == Pixels::Index8 ? t.mapBits == 32 : m_pixels != Pixels::Rgb555);
    if (m_pixels == Pixels::Index8)
        readMap(t);
    m_native = m_pixels == Pixels::Bgr24 ? RowLayout::Bgr24
               : m_alpha                 ? RowLayout::Bgra32
                                         : RowLayout::Bgrx32;
    m_reversible = !m_rle;
    m_topDown = m_fileTopDown;
}

// The entries the 8-bit indices can reach, as 0xAARRGGBB by raw index.
void TgaSource::readMap(const TgaHeader &t)
{
    if (t.mapLength == 0)
        throw damaged(m_path, QStringLiteral("has an empty colour map"));
    const int count = std::clamp(256 - t.mapFirst, 0, t.mapLength);
    const int bytes = t.mapEntryBytes();
    std::vector<uchar> map(size_t(count * bytes) + 1);
    if (count > 0)
        m_file.readAt(HeaderBytes + t.idLength, reinterpret_cast<char *>(map.data()),
                      count * bytes);
    for (int i = 0; i < count; ++i) {
        const uchar *e = map.data() + i * bytes;
        quint32 v;
        switch (t.mapBits) {
        case 15: v = rgb555(qFromLittleEndian<quint16>(e)) | 0xFF000000u; break;
        case 16: v = rgb555(qFromLittleEndian<quint16>(e)); break;
        case 24: v = 0xFF000000u | quint32(e[2]) << 16 | quint32(e[1]) << 8 | e[0]; break;
        default:
            v = qFromLittleEndian<quint32>(e);
            if (m_decoding.premultiplied)
                v = qUnpremultiply(v);
        }
        m_palette[size_t(t.mapFirst + i)] = m_alpha ? v : v | 0xFF000000u;
    }
    m_decoding.palette = m_palette.data();
    m_decoding.mapFirst = unsigned(t.mapFirst);
    m_decoding.mapCount = unsigned(count);
}

void TgaSource::start(RowLayout layout, bool topDown)
{
    m_layout = layout;
    m_decoding.force = layout == RowLayout::Bgrx32 || !m_alpha ? 0xFF000000u : 0u;
    if (m_reversible)
        m_topDown = topDown;
    const qint64 rowBytes = qint64(m_width) * m_pixelBytes;
    const qint64 dataBytes = m_dataEnd - m_dataStart;
    // Whole rows of an uncompressed file; a run-length stream a block at a time (its packets
    // are at most 513 bytes, so a block that is short of one is short of the file).
    const qint64 block =
        m_rle ? std::min(BlockBytes, dataBytes)
              : std::min<qint64>(m_height, std::max<qint64>(1, BlockBytes / rowBytes)) * rowBytes;
    m_block.resize(size_t(block));
    m_next = m_dataStart;
}

Band TgaSource::nextBand(int maxRows)
{
    int rows = std::min(maxRows, m_height - m_done);
    if (!m_rle)
        rows = std::min<qint64>(rows, qint64(m_block.size()) / (qint64(m_width) * m_pixelBytes));
    m_band = Band{};
    m_band.rows = rows;
    m_band.pixels = m_width;
    m_band.dy = m_topDown ? 1 : -1;
    m_band.y0 = m_topDown ? m_done : m_height - 1 - m_done;
    m_done += rows;
    return m_band;
}

void TgaSource::readBand(uchar *out, qsizetype stride)
{
    if (m_rle)
        decodeRuns(out, stride);
    else
        readRows(out, stride);
}

void TgaSource::convert(const uchar *in, uchar *out, int n)
{
    const bool wide = m_layout != RowLayout::Bgr24;
    const Decoding &d = m_decoding;
    if (m_pixels == Pixels::Bgr24 && !wide) {
        std::memcpy(out, in, size_t(n) * 3);
        return;
    }
    if (m_pixels == Pixels::Bgr24 && (quintptr(out) & 3) == 0) {
        unpackRow24(in, reinterpret_cast<QRgb *>(out), n);
        return;
    }
    if (m_pixels == Pixels::Bgra32 && wide && d.force == 0 && !d.premultiplied) {
        std::memcpy(out, in, size_t(n) * 4);
        return;
    }
    unsigned bad = 0;
    switch (m_pixels) {
    case Pixels::Gray8: decodeTo<Pixels::Gray8>(wide, in, out, n, d, bad); break;
    case Pixels::GrayAlpha16: decodeTo<Pixels::GrayAlpha16>(wide, in, out, n, d, bad); break;
    case Pixels::Index8: decodeTo<Pixels::Index8>(wide, in, out, n, d, bad); break;
    case Pixels::Rgb555: decodeTo<Pixels::Rgb555>(wide, in, out, n, d, bad); break;
    case Pixels::Bgr24: decodeTo<Pixels::Bgr24>(wide, in, out, n, d, bad); break;
    case Pixels::Bgra32: decodeTo<Pixels::Bgra32>(wide, in, out, n, d, bad); break;
    }
    if (bad)
        throw damaged(m_path, QStringLiteral("has a colour index past its colour map"));
}

// The band's rows lie next to each other in an uncompressed file, in one order or the other.
void TgaSource::readRows(uchar *out, qsizetype stride)
{
    const qint64 rowBytes = qint64(m_width) * m_pixelBytes;
    const auto fileRow = [&](int y) { return m_fileTopDown ? y : m_height - 1 - y; };
    const int last = m_band.y0 + (m_band.rows - 1) * m_band.dy;
    const int low = std::min(fileRow(m_band.y0), fileRow(last));
    m_file.readAt(m_dataStart + low * rowBytes, reinterpret_cast<char *>(m_block.data()),
                  m_band.rows * rowBytes);
    const int outBytes = bytesPerPixel(m_layout);
    for (int r = 0; r < m_band.rows; ++r) {
        uchar *row = out + r * stride;
        convert(m_block.data() + (fileRow(m_band.y0 + r * m_band.dy) - low) * rowBytes, row,
                m_width);
        if (m_rightToLeft)
            mirror(row, m_width, outBytes);
    }
}

// The next `bytes` bytes of the run-length stream, at most one packet's.
const uchar *TgaSource::need(int bytes)
{
    if (m_end - m_at < bytes) {
        const qint64 kept = m_end - m_at;
        std::memmove(m_block.data(), m_block.data() + m_at, size_t(kept));
        const qint64 more = std::min(qint64(m_block.size()) - kept, m_dataEnd - m_next);
        if (more > 0)
            m_file.readAt(m_next, reinterpret_cast<char *>(m_block.data() + kept), more);
        m_next += std::max<qint64>(0, more);
        m_at = 0;
        m_end = kept + std::max<qint64>(0, more);
        if (m_end < bytes)
            cutShort();
    }
    return m_block.data() + m_at;
}

void TgaSource::decodeRuns(uchar *out, qsizetype stride)
{
    const int outBytes = bytesPerPixel(m_layout);
    for (int r = 0; r < m_band.rows; ++r) {
        uchar *row = out + r * stride;
        for (int x = 0; x < m_width;) {
            if (m_left == 0) {
                const uchar packet = *need(1);
                ++m_at;
                m_left = (packet & 0x7F) + 1;
                m_run = packet & 0x80;
                if (m_run) {
                    convert(need(m_pixelBytes), m_runPixel, 1);
                    m_at += m_pixelBytes;
                }
            }
            const int n = std::min(m_left, m_width - x);
            uchar *to = row + qsizetype(x) * outBytes;
            if (m_run) {
                for (int i = 0; i < n; ++i)
                    std::memcpy(to + i * outBytes, m_runPixel, size_t(outBytes));
            } else {
                convert(need(n * m_pixelBytes), to, n);
                m_at += n * m_pixelBytes;
            }
            x += n;
            m_left -= n;
        }
        if (m_rightToLeft)
            mirror(row, m_width, outBytes);
    }
    if (m_done == m_height && m_left > 0)
        throw damaged(m_path, QStringLiteral("has a run-length packet past its last pixel"));
}

} // namespace

std::unique_ptr<PictureSource> openTga(InputFile &file, const QString &path)
{
    return std::make_unique<TgaSource>(file, path);
}

bool looksLikeTga(const QByteArray &head, const QByteArray &tail, qint64, const QString &path)
{
    if (head.size() < HeaderBytes ||
        !headerFault(TgaHeader(reinterpret_cast<const uchar *>(head.constData()))).isEmpty())
        return false;
    return path.endsWith(QLatin1String(".tga"), Qt::CaseInsensitive) || hasFooter(tail);
}
