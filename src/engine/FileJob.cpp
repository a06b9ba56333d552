#include "FileJob.h"

#include "FileOps.h"
#include "MaskScan.h"
#include "PictureSource.h"

#include <algorithm>
#include <cstring>
#include <new>

FileJob::FileJob(const Settings &settings) : m_settings(settings) {}

FileJob::Outcome FileJob::run(const QString &spritePath, const QString &output, Existing existing,
                              JobObserver *observer)
{
    m_target = {output, existing};
    m_error.reset();
    m_failedReading = true;
    // Checked first so that nothing is read for a mask that is kept; one that appears after
    // this check is still kept, by the exclusive write.
    if (existing == Existing::Keep && entryExists(output))
        return Outcome::Skipped;
    try {
        InputFile in(spritePath);
        const std::unique_ptr<PictureSource> source = openPicture(in, spritePath);
        return mask(*source, observer);
    } catch (const RunError &e) {
        if (e.number() == RunError::FileAlreadyExists)
            return Outcome::Skipped; // another run wrote it a moment ago
        m_error = e;
        return Outcome::Failed;
    } catch (const std::bad_alloc &) {
        // One sprite too large for the memory left fails alone; the others go on.
        m_error = RunError::of(RunError::OutOfMemory, spritePath);
        return Outcome::Failed;
    }
}

FileJob::Outcome FileJob::run(InputFile &sprite, const QString &output, Existing existing,
                              JobObserver *observer)
{
    m_target = {output, existing};
    return runOpen(sprite, observer);
}

FileJob::Outcome FileJob::run(InputFile &sprite, int outputFd, JobObserver *observer)
{
    m_target = {sprite.path(), Existing::Replace, outputFd};
    return runOpen(sprite, observer);
}

FileJob::Outcome FileJob::runOpen(InputFile &sprite, JobObserver *observer)
{
    m_error.reset();
    m_failedReading = true;
    try {
        const std::unique_ptr<PictureSource> source = openPicture(sprite, sprite.path());
        return mask(*source, observer);
    } catch (const RunError &e) {
        m_error = e;
        return Outcome::Failed;
    } catch (const std::bad_alloc &) {
        m_error = RunError::of(RunError::OutOfMemory, sprite.path());
        return Outcome::Failed;
    }
}

void FileJob::maskRow(const uchar *in, int inBytes, uchar *out, int w) const
{
    const MaskRule &rule = m_settings.rule;
    if (rule.isExact())
        maskPackedRow(in, out, w, inBytes, toQRgb(rule.transparent()), toQRgb(rule.mask));
    else
        applyRuleBgr(in, inBytes, out, w, rule);
}

bool FileJob::reportAndCheck(JobObserver *observer, qint64 done, qint64 total) const
{
    if (!observer)
        return false;
    observer->progress(int(done * 100 / total));
    return observer->stopRequested();
}

FileJob::Outcome FileJob::mask(PictureSource &source, JobObserver *observer)
{
    const MaskRule &rule = m_settings.rule;
    const MaskOutput kind = m_settings.kind;
    const int w = source.width(), h = source.height();
    const RowLayout layout = rule.usesAlpha() ? RowLayout::Bgra32 : source.nativeLayout();
    const int inBytes = bytesPerPixel(layout);
    const bool png = kind.format == MaskFormat::Png;
    source.start(layout, png || source.topDown());
    const bool inOrder = !source.interlaced() && (source.topDown() || !png);
    const QRgb m = toQRgb(rule.mask) | 0xFF000000u, t = toQRgb(rule.transparent()) | 0xFF000000u;

    m_failedReading = false;
    const std::unique_ptr<MaskSink> sink = MaskSink::create(m_target, kind, w, h, m, t, m_out);
    m_failedReading = true;
    m_row.resize(size_t(w) * 3);
    const int rowsPerBand = int(std::clamp<qint64>(BlockBytes / (qint64(w) * 4), 1, h));
    const qsizetype bitRow = (w + 7) / 8;
    if (!inOrder) {
        m_bits.assign(size_t(bitRow * h), 0);
    }

    qint64 done = 0;
    for (Band band; (band = source.nextBand(rowsPerBand)).rows > 0;) {
        qsizetype stride;
        const uchar *in = source.band(band, layout, stride);
        if (inOrder) {
            sink->beginBand(band.y0, band.dy, band.rows);
            for (int r = 0; r < band.rows; ++r) {
                if (sink->takesBits()) {
                    maskRow(in + r * stride, inBytes, m_row.data(), w);
                    packMaskBits(m_row.data(), w, m & 0xFFFFFF, sink->row(r));
                } else {
                    maskRow(in + r * stride, inBytes, sink->row(r), w);
                }
            }
        } else {
            // Gathered as bits, each where it belongs.
            for (int r = 0; r < band.rows; ++r) {
                maskRow(in + r * stride, inBytes, m_row.data(), band.pixels);
                uchar *bits = m_bits.data() + qsizetype(band.y0 + r * band.dy) * bitRow;
                const uchar *p = m_row.data();
                for (int i = 0; i < band.pixels; ++i, p += 3) {
                    const quint32 c = p[0] | quint32(p[1]) << 8 | quint32(p[2]) << 16;
                    const int x = band.x0 + i * band.dx;
                    if (c != (m & 0xFFFFFF))
                        bits[x / 8] |= uchar(0x80 >> (x % 8));
                }
            }
        }
        done += qint64(band.rows) * band.pixels;
        if (reportAndCheck(observer, done, qint64(w) * h))
            return Outcome::Stopped;
        if (inOrder) {
            m_failedReading = false;
            sink->endBand();
            m_failedReading = true;
        }
    }
    source.finish();
    m_failedReading = false;
    if (!inOrder) {
        const uchar mb[3] = {uchar(qBlue(m)), uchar(qGreen(m)), uchar(qRed(m))};
        const uchar tb[3] = {uchar(qBlue(t)), uchar(qGreen(t)), uchar(qRed(t))};
        for (int y0 = 0; y0 < h; y0 += rowsPerBand) {
            const int n = std::min(rowsPerBand, h - y0);
            sink->beginBand(y0, 1, n);
            for (int r = 0; r < n; ++r) {
                const uchar *bits = m_bits.data() + qsizetype(y0 + r) * bitRow;
                uchar *out = sink->row(r);
                if (sink->takesBits()) {
                    std::memcpy(out, bits, size_t(bitRow));
                    continue;
                }
                for (int x = 0; x < w; ++x, out += 3)
                    std::memcpy(out, (bits[x / 8] & (0x80 >> (x % 8))) ? tb : mb, 3);
            }
            sink->endBand();
        }
        m_bits = {};
    }
    sink->commit();
    return Outcome::Masked;
}
