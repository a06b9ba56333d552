#pragma once

#include "FileOps.h"
#include "MaskRule.h"
#include "MaskWriter.h"
#include "RunError.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// Told how a file job goes, and asked whether it should go on. Called between blocks of
// rows, never per pixel.
class JobObserver
{
public:
    virtual ~JobObserver() = default;
    // Percent of the sprite masked so far; it never goes back and ends at 100.
    virtual void progress(int percent) { Q_UNUSED(percent); }
    // True to stop: the job then ends without writing anything.
    virtual bool stopRequested() { return false; }
};

// One sprite file in, its mask file out: read, apply the rule, write, with no window. With
// the window's rule and a 24-bit BMP the mask is the window's mask byte for byte. Uncompressed 24-
// and 32-bit BMPs are streamed in blocks of rows through buffers the job keeps, so a sheet of any
// size costs a few megabytes; other pictures are decoded whole, into images the job reuses from
// file to file. One job serves one thread, file after file.
class FileJob
{
public:
    struct Settings {
        MaskRule rule;   // which pixels are background, and the two colours
        MaskOutput kind; // BMP or PNG content, 24 or 1 bit
    };
    enum class Outcome { Masked, Skipped, Stopped, Failed };

    explicit FileJob(const Settings &settings);

    // Masks `spritePath` into `output`. With Existing::Keep a mask that is there, or that
    // appears meanwhile, is kept and the outcome is Skipped.
    Outcome run(const QString &spritePath, const QString &output, Existing existing,
                JobObserver *observer = nullptr);

    // After run(): for Failed, why, and whether the sprite could not be read (rather than
    // the mask not written).
    const std::optional<RunError> &error() const { return m_error; }
    bool failedReading() const { return m_failedReading; }

    // Rows per block when streaming: about this many bytes of sprite at a time.
    static constexpr qint64 BlockBytes = 1 << 20;

private:
    Outcome stream(class InputFile &in, const struct BmpLayout &bmp, qint64 have,
                   JobObserver *observer);
    Outcome decodeWhole(class InputFile &in, qint64 have, JobObserver *observer);

    Settings m_settings;
    QString m_path, m_output;
    Existing m_existing = Existing::Keep;
    std::optional<RunError> m_error;
    bool m_failedReading = false;
    QByteArray m_in, m_out;
    QImage m_mask;
};
