#include "PictureIO.h"

#include "FileOps.h"
#include "RunError.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QtEndian>

#include <climits>
#include <cstdlib>

namespace {

// Qt's readers fill in what a cut-short file lacks and say so only in a warning (JPEG), or
// not at all (BMP). A warning during a read is taken as a damaged file.
thread_local bool t_reading = false;
thread_local bool t_warned = false;
QtMessageHandler g_previous = nullptr;

void watchWarnings(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (t_reading && type != QtDebugMsg && type != QtInfoMsg) {
        t_warned = true;
        return;
    }
    if (g_previous)
        g_previous(type, context, msg);
}

struct WarningWatch {
    WarningWatch()
    {
        static QMutex mutex;
        QMutexLocker lock(&mutex);
        static bool installed = false;
        if (!installed) {
            g_previous = qInstallMessageHandler(watchWarnings);
            installed = true;
        }
        t_reading = true;
        t_warned = false;
    }
    ~WarningWatch() { t_reading = false; }
};

// An uncompressed BMP must hold all the rows its header promises.
bool bmpIsComplete(const QByteArray &data)
{
    if (data.size() < 54 || !data.startsWith("BM"))
        return true; // not a BMP this check knows; the reader decides
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(data.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(data.constData() + at); };
    const quint32 offset = u32(10);
    const quint32 headerSize = u32(14);
    if (headerSize < 40)
        return true; // the old core header: rare, left to the reader
    const qint64 width = qint32(u32(18));
    const qint64 height = qint32(u32(22));
    const int bpp = u16(28);
    const quint32 compression = u32(30);
    if (compression != 0 && compression != 3)
        return true; // run-length data has no fixed size
    const qint64 rowBytes = ((width * bpp + 31) / 32) * 4;
    const qint64 needed = qint64(offset) + rowBytes * (height < 0 ? -height : height);
    return width > 0 && data.size() >= needed;
}

// The size a BMP header declares. Qt's reader gives no size for sides over 16384, so a too
// large sheet is recognised here, before anything is decoded.
QSize bmpDeclaredSize(const QByteArray &data)
{
    if (data.size() < 26 || !data.startsWith("BM"))
        return {};
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(data.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(data.constData() + at); };
    if (u32(14) == 12)
        return QSize(u16(18), u16(20));
    const qint64 w = qint32(u32(18)), h = qint32(u32(22));
    return QSize(int(std::min<qint64>(std::abs(w), INT_MAX)), int(std::min<qint64>(std::abs(h), INT_MAX)));
}

// A GIF's first image must end in its closing block: Qt shows a cut-short GIF as a
// partly black picture and says nothing.
bool gifIsComplete(const QByteArray &data)
{
    if (!data.startsWith("GIF8"))
        return true;
    const qsizetype n = data.size();
    const auto byte = [&](qsizetype at) { return quint8(data.at(at)); };
    qsizetype at = 13;
    if (n < at)
        return false;
    if (byte(10) & 0x80)
        at += 3 * (qsizetype(2) << (byte(10) & 7));
    const auto skipSubBlocks = [&]() {
        while (at < n) {
            const quint8 len = byte(at++);
            if (len == 0)
                return true;
            at += len;
        }
        return false;
    };
    while (at < n) {
        const quint8 kind = byte(at++);
        if (kind == 0x21) { // extension: a label, then sub-blocks
            ++at;
            if (!skipSubBlocks())
                return false;
        } else if (kind == 0x2C) { // image: descriptor, colour table, code size, data
            if (at + 9 > n)
                return false;
            const quint8 flags = byte(at + 8);
            at += 9;
            if (flags & 0x80)
                at += 3 * (qsizetype(2) << (flags & 7));
            ++at;
            return skipSubBlocks();
        } else {
            return true; // the trailer or something the reader judges
        }
    }
    return false;
}

} // namespace

QImage readPicture(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw RunError::of(RunError::FileNotFound, path);
    if (!info.isFile())
        throw RunError::of(RunError::PermissionDenied, path + QStringLiteral(" is a folder"));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RunError::of(RunError::PermissionDenied, path);
    const QByteArray data = file.readAll();

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    QSize size = reader.size();
    if (!size.isValid())
        size = bmpDeclaredSize(data);
    if (size.isValid() && qint64(size.width()) * size.height() > MaxPicturePixels)
        throw RunError::of(RunError::OutOfMemory,
                           QStringLiteral("%1 is %2 x %3 pixels, more than 16384 x 16384")
                               .arg(path)
                               .arg(size.width())
                               .arg(size.height()));
    if (!bmpIsComplete(data) || !gifIsComplete(data))
        throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is cut short"));
    // Qt refuses images above 256 MB by default; a 16384 x 16384 sheet needs 1 GB.
    QImageReader::setAllocationLimit(1100);

    QImage image;
    {
        WarningWatch watch;
        image = reader.read();
        if (!image.isNull() && t_warned)
            throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is damaged"));
    }
    if (image.isNull())
        throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" (") +
                                                         reader.errorString() + ')');
    return image.convertToFormat(QImage::Format_RGB32);
}

QString pictureFilePattern()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    return patterns.join(QLatin1Char(';'));
}

void writeBmp(const QImage &picture, const QString &path)
{
    // The resolution in the header would otherwise follow the screen (or its absence), and
    // the same mask would come out as different files from the window and the command line.
    QImage image = picture;
    image.setDotsPerMeterX(3780); // 96 dots per inch
    image.setDotsPerMeterY(3780);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP"))
        throw RunError::of(RunError::OutOfMemory, path);
    writeFileWhole(path, bytes);
}
