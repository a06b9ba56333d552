#include "StreamMask.h"

#include "Console.h"
#include "FileJob.h"
#include "MaskCommand.h"
#include "MaskRun.h"
#include "Options.h"
#include "PictureIO.h"
#include "clsDebug.h"

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace
{

// The largest file the largest sprite the program takes can be: four bytes a pixel, and
// room for headers, palettes and chunks a file may carry besides.
constexpr qint64 MaxSpriteBytes = MaxPicturePixels * 4 + (1 << 20);

// Standard input whole, or nothing when it is larger than any sprite: a stream that never
// ends is not read into memory without end.
std::optional<QByteArray> readStandardInput()
{
    QByteArray bytes;
    for (;;) {
        const qsizetype at = bytes.size();
        bytes.resize(at + (1 << 16));
        const ssize_t n = ::read(STDIN_FILENO, bytes.data() + at, 1 << 16);
        if (n < 0 && errno == EINTR) {
            bytes.resize(at);
            continue;
        }
        if (n < 0)
            throw RunError::fromErrno(errno, QStringLiteral("-"));
        bytes.resize(at + n);
        if (n == 0)
            return bytes;
        if (bytes.size() > MaxSpriteBytes)
            return std::nullopt;
    }
}

// Copies a finished mask file to standard output.
void copyToStandardOutput(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw RunError::fromErrno(errno, path);
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            if (n < 0)
                throw RunError::fromErrno(error, path);
            return;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(STDOUT_FILENO, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                const int error = errno;
                ::close(fd);
                throw RunError::fromErrno(error, QStringLiteral("standard output"));
            }
            done += w;
        }
    }
}

} // namespace

int maskStandardInput(const Options &options, Console &console, clsDebug &log)
{
    const QString name = QStringLiteral("-");
    if (options.dryRun) {
        if (!options.quiet)
            console.err(QStringLiteral("would mask - -> -"));
        return MaskCommand::AllMasked;
    }
    const auto fail = [&](const QString &why) {
        console.err(QStringLiteral("pelloran-mask: failed -: ") + why);
        return int(MaskCommand::SomeNotMasked);
    };
    try {
        const std::optional<QByteArray> bytes = readStandardInput();
        if (!bytes)
            return fail(QStringLiteral("more than %1 bytes, larger than any sprite the "
                                       "program takes")
                            .arg(MaxSpriteBytes));
        FileJob::Settings settings = options.job;
        if (options.formatGiven.isEmpty()) {
            const bool png = bytes->startsWith("\x89PNG\r\n\x1a\n");
            settings.kind.format = png ? MaskFormat::Png : MaskFormat::Bmp;
            settings.kind.depth = options.depthGiven ? options.depthGiven : png ? 1 : 24;
        }
        // The mask is made as a file first: a BMP's rows are written where they belong,
        // which a pipe cannot do, and a sprite that fails half way sends nothing.
        QTemporaryDir scratch;
        if (!scratch.isValid())
            return fail(QStringLiteral("no temporary folder: ") + scratch.errorString());
        const QString mask = scratch.filePath(QStringLiteral("mask"));
        InputFile in(*bytes, name);
        FileJob job(settings);
        if (job.run(in, mask, Existing::Keep) != FileJob::Outcome::Masked) {
            log.Print_(job.failedReading() ? MaskRun::cantLoadEntry(name)
                                           : MaskRun::failedEntry(name),
                       *job.error());
            return fail(job.error()->description());
        }
        copyToStandardOutput(mask);
        log.Print_(MaskRun::maskedEntry(name, name));
        return MaskCommand::AllMasked;
    } catch (const RunError &e) {
        return fail(e.description());
    }
}
