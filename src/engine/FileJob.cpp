#include "FileJob.h"

#include "FileOps.h"
#include "MaskScan.h"
#include "PictureChecks.h"

#include <algorithm>
#include <cstring>

FileJob::FileJob(const Settings &settings) : m_settings(settings) {}

FileJob::Outcome FileJob::run(const QString &spritePath, const QString &output, Existing existing,
                              JobObserver *observer)
{
    m_path = spritePath;
    m_output = output;
    m_existing = existing;
    m_error.reset();
    m_failedReading = true;
    // Checked first so that nothing is read for a mask that is kept; one that appears after
    // this check is still kept, by the exclusive write.
    if (existing == Existing::Keep && entryExists(output))
        return Outcome::Skipped;
    try {
        InputFile in(spritePath);
        // A small sprite is read in one go; a sheet's first block holds its headers.
        const qint64 have = std::min(in.size(), BlockBytes);
        if (m_in.size() < have)
            m_in.resize(qsizetype(have));
        in.readAt(0, m_in.data(), have);
        if (have >= 2 && m_in.startsWith("BM")) {
            const BmpLayout bmp =
                checkBmp(Bytes(reinterpret_cast<const uchar *>(m_in.constData()), have), in.size(),
                         spritePath);
            // Streamed when the mask is a 24-bit BMP too, and no alpha is asked of a 32-bit
            // sprite (whose fourth byte the reader takes for padding).
            const MaskOutput &kind = m_settings.kind;
            if (bmp.compression == 0 &&
                (bmp.bpp == 24 || (bmp.bpp == 32 && !m_settings.rule.usesAlpha())) &&
                kind.format == MaskFormat::Bmp && kind.depth == 24)
                return stream(in, bmp, have, observer);
        }
        return decodeWhole(in, have, observer);
    } catch (const RunError &e) {
        if (e.number() == RunError::FileAlreadyExists)
            return Outcome::Skipped; // another run wrote it a moment ago
        m_error = e;
        return Outcome::Failed;
    }
}

FileJob::Outcome FileJob::stream(InputFile &in, const BmpLayout &bmp, qint64 have,
                                 JobObserver *observer)
{
    const qint64 w = bmp.width, h = bmp.rows(), bytesPerPixel = bmp.bpp / 8;
    const qint64 inRow = bmp.rowBytes(), outRow = (w * 3 + 3) & ~qint64(3);
    const qint64 rowsPerBlock = std::clamp<qint64>(BlockBytes / std::max(inRow, outRow), 1, h);
    // The whole file may be in memory already (every small sprite); otherwise blocks of
    // rows are read into the start of the input buffer.
    const bool whole = have == in.size();
    if (!whole && m_in.size() < rowsPerBlock * inRow)
        m_in.resize(qsizetype(rowsPerBlock * inRow));
    if (m_out.size() < 54 + rowsPerBlock * outRow)
        m_out.resize(qsizetype(54 + rowsPerBlock * outRow));
    const MaskRule &rule = m_settings.rule;
    const bool exact = rule.isExact();
    const QRgb t = toQRgb(rule.transparent()), m = toQRgb(rule.mask);

    m_failedReading = false;
    WholeFileWriter out(m_output, m_existing);
    m_failedReading = true;
    bmpHeader(w, h, 24, 0, m_out.data());
    qint64 headerBytes = 54;
    // Mask rows go out bottom-up, as the window writes them, whichever way the sprite's
    // rows are stored.
    const bool bottomUp = bmp.height > 0;
    for (qint64 done = 0; done < h;) {
        const qint64 n = std::min(rowsPerBlock, h - done);
        const qint64 firstFileRow = bottomUp ? done : h - done - n;
        const qint64 at = bmp.offset + firstFileRow * inRow;
        const uchar *src;
        if (whole) {
            src = reinterpret_cast<const uchar *>(m_in.constData()) + at;
        } else {
            in.readAt(at, m_in.data(), n * inRow);
            src = reinterpret_cast<const uchar *>(m_in.constData());
        }
        uchar *dst = reinterpret_cast<uchar *>(m_out.data()) + headerBytes;
        for (qint64 r = 0; r < n; ++r) {
            uchar *row = dst + r * outRow;
            const uchar *in = src + (bottomUp ? r : n - 1 - r) * inRow;
            if (exact)
                maskPackedRow(in, row, w, int(bytesPerPixel), t, m);
            else
                applyRuleBgr(in, int(bytesPerPixel), row, int(w), rule);
            std::memset(row + 3 * w, 0, size_t(outRow - 3 * w));
        }
        done += n;
        if (observer) {
            observer->progress(int(done * 100 / h));
            if (observer->stopRequested())
                return Outcome::Stopped;
        }
        m_failedReading = false;
        out.write(m_out.constData(), qsizetype(headerBytes + n * outRow));
        m_failedReading = true;
        headerBytes = 0;
    }
    in.checkUnchanged();
    m_failedReading = false;
    out.commit();
    return Outcome::Masked;
}

FileJob::Outcome FileJob::decodeWhole(InputFile &in, qint64 have, JobObserver *observer)
{
    if (in.size() > MaxPicturePixels * 4 + (1 << 20))
        throw RunError::of(RunError::OutOfMemory, m_path + QStringLiteral(" is too large"));
    if (m_in.size() < in.size())
        m_in.resize(qsizetype(in.size()));
    in.readAt(have, m_in.data() + have, in.size() - have);
    in.checkUnchanged();
    const MaskRule &rule = m_settings.rule;
    const QImage sprite =
        decodePicture(QByteArray::fromRawData(m_in.constData(), qsizetype(in.size())), m_path,
                      rule.usesAlpha() ? PictureAlpha::Keep : PictureAlpha::Drop);
    if (m_mask.size() != sprite.size())
        m_mask = QImage(sprite.size(), QImage::Format_RGB32);
    if (m_mask.isNull() && !sprite.isNull())
        throw RunError::of(RunError::OutOfMemory, m_path);
    for (int y = 0; y < sprite.height(); ++y)
        applyRule(reinterpret_cast<const QRgb *>(sprite.constScanLine(y)),
                  reinterpret_cast<QRgb *>(m_mask.scanLine(y)), sprite.width(), rule);
    if (observer) {
        observer->progress(100);
        if (observer->stopRequested())
            return Outcome::Stopped;
    }
    m_failedReading = false;
    writeMask(m_mask, m_output, m_settings.kind, toQRgb(rule.mask), toQRgb(rule.transparent()),
              m_existing);
    return Outcome::Masked;
}
