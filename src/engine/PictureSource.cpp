#include "PictureSource.h"

#include "PictureChecks.h"
#include "RunError.h"

#include <algorithm>
#include <cstring>

namespace
{

struct Signature {
    QByteArray start;
    qsizetype at;
    const char *name;
};

// Formats that other programs read and this one does not: said so, rather than "not a
// picture", so the user knows to convert them. (CUR is not among them: its first bytes are
// those of the most common TGA header.)
const Signature unreadFormats[] = {
    {QByteArray("\0\0\1\0", 4), 0, "ICO"},
    {QByteArray("/* XPM */"), 0, "XPM"},
    {QByteArray("#define "), 0, "XBM"},
    {QByteArray("II*\0", 4), 0, "TIFF"},
    {QByteArray("MM\0*", 4), 0, "TIFF"},
    {QByteArray("WEBP"), 8, "WebP"},
    {QByteArray("8BPS"), 0, "PSD"},
    {QByteArray("qoif"), 0, "QOI"},
    {QByteArray("\0\0\0\x0CjP  ", 8), 0, "JPEG 2000"},
    {QByteArray("ftypavif"), 4, "AVIF"},
    {QByteArray("ftypheic"), 4, "HEIC"},
    {QByteArray("icns"), 0, "ICNS"},
    {QByteArray("DDS "), 0, "DDS"},
    {QByteArray("<svg"), 0, "SVG"},
    {QByteArray("<?xml"), 0, "SVG"},
};

bool isNetpbm(const QByteArray &head)
{
    return head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7' &&
           QByteArray(" \t\r\n").contains(head[2]);
}

} // namespace

std::unique_ptr<PictureSource> openPicture(InputFile &file, const QString &path)
{
    QByteArray head(qsizetype(std::min<qint64>(32, file.size())), Qt::Uninitialized);
    file.readAt(0, head.data(), head.size());
    if (head.startsWith("BM"))
        return openBmp(file, path);
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return openPng(file, path);
    if (head.startsWith("\xFF\xD8\xFF"))
        return openJpeg(file, path);
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return openGif(file, path);
    QByteArray tail(qsizetype(std::min<qint64>(26, file.size())), Qt::Uninitialized);
    file.readAt(file.size() - tail.size(), tail.data(), tail.size());
    if (looksLikeTga(head, tail, file.size(), path))
        return openTga(file, path);
    for (const Signature &s : unreadFormats)
        if (head.mid(s.at).startsWith(s.start))
            throw RunError::of(RunError::InvalidPicture,
                               path +
                                   QStringLiteral(" is a picture format Pelloran does not read (") +
                                   QLatin1String(s.name) + ')');
    if (isNetpbm(head))
        throw RunError::of(
            RunError::InvalidPicture,
            path + QStringLiteral(" is a picture format Pelloran does not read (PBM/PGM/PPM)"));
    throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is not a picture"));
}

const uchar *PictureSource::band(const Band &band, RowLayout layout, qsizetype &stride)
{
    stride = qsizetype(band.pixels) * bytesPerPixel(layout);
    m_rows.resize(size_t(stride * band.rows));
    readBand(m_rows.data(), stride);
    return m_rows.data();
}

StreamReader::StreamReader(InputFile &file, qint64 from, qint64 chunk)
    : m_file(file), m_position(from), m_buffer(qsizetype(chunk), Qt::Uninitialized)
{
}

void StreamReader::refill()
{
    const qint64 n = std::min<qint64>(m_buffer.size(), m_file.size() - m_position);
    m_at = 0;
    m_end = std::max<qint64>(0, n);
    if (m_end > 0)
        m_file.readAt(m_position, m_buffer.data(), m_end);
    m_position += m_end;
}

qint64 StreamReader::read(uchar *into, qint64 n)
{
    qint64 done = 0;
    while (done < n) {
        if (m_at == m_end) {
            refill();
            if (m_end == 0)
                break;
        }
        const qint64 k = std::min(n - done, m_end - m_at);
        std::memcpy(into + done, m_buffer.constData() + m_at, size_t(k));
        m_at += k;
        done += k;
    }
    return done;
}

const uchar *StreamReader::next(qint64 &n)
{
    if (m_at == m_end)
        refill();
    n = m_end - m_at;
    const uchar *p = reinterpret_cast<const uchar *>(m_buffer.constData()) + m_at;
    m_at = m_end;
    return p;
}
