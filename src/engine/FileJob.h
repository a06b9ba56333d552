#pragma once

#include "FileOps.h"
#include "MaskRule.h"
#include "MaskWriter.h"
#include "RunError.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>
#include <vector>

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

// One sprite file in, its mask file out, with no window: a picture source's bands of rows go
// through the rule into a mask sink as they come, so a sheet of any size costs a few
// megabytes. With the window's rule and a 24-bit BMP mask the mask is the window's, byte for
// byte. Sources whose rows cannot come in the order the mask file wants them (interlaced
// files, and run-length files stored bottom-up when the mask is a PNG) are gathered as one
// bit per pixel first. One job serves one thread, file after file.
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
    // The same for a sprite already open (bytes read from standard input), named in
    // messages by its path().
    Outcome run(InputFile &sprite, const QString &output, Existing existing,
                JobObserver *observer = nullptr);
    // The same into an open file the caller keeps (standard input's mask, made in an
    // unnamed scratch file before it is sent on).
    Outcome run(InputFile &sprite, int outputFd, JobObserver *observer = nullptr);
    // The kind of the masks written from now on.
    void setKind(MaskOutput kind) { m_settings.kind = kind; }

    // After run(): for Failed, why, and whether the sprite could not be read (rather than
    // the mask not written).
    const std::optional<RunError> &error() const { return m_error; }
    bool failedReading() const { return m_failedReading; }

private:
    Outcome runOpen(InputFile &sprite, JobObserver *observer);
    Outcome mask(class PictureSource &source, JobObserver *observer);
    // One mask row, blue, green, red, from `w` sprite pixels of `inBytes` bytes each.
    void maskRow(const uchar *in, int inBytes, uchar *out, int w) const;
    bool reportAndCheck(JobObserver *observer, qint64 done, qint64 total) const;

    Settings m_settings;
    MaskTarget m_target;
    std::optional<RunError> m_error;
    bool m_failedReading = false;
    // One mask row, a band of them for the sink, and the bits of a gathered mask: kept from
    // file to file, as fresh memory costs a page fault every 4 KiB.
    std::vector<uchar> m_row, m_out, m_bits;
};
