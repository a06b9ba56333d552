#include "MaskRun.h"

#include "PictureIO.h"
#include "Rounding.h"
#include "RunHost.h"
#include "RunUtils.h"

MaskRun::MaskRun(RunHost &host) : m_host(host) {}

QString MaskRun::readyText(float elapsed)
{
    return QStringLiteral("Status: Ready (") + QString::number(roundHalfEven(elapsed)) +
           QStringLiteral(" Seconds Used)");
}

QString MaskRun::errorText(int percent, float elapsed)
{
    return QStringLiteral("Status: Error(") + QString::number(percent) +
           QStringLiteral("%, After ") + QString::number(roundHalfEven(elapsed)) +
           QStringLiteral(" Seconds)... See ");
}

QString MaskRun::maskedEntry(const QString &sprite, const QString &mask)
{
    return QStringLiteral("Image '") + sprite +
           QStringLiteral("' masked successfully; mask saved as '") + mask + QStringLiteral("'.");
}

QString MaskRun::cantLoadEntry(const QString &sprite)
{
    return QStringLiteral("Can't load '") + sprite + QLatin1Char('\'');
}

QString MaskRun::failedEntry(const QString &sprite)
{
    return QStringLiteral("An error occured while masking '") + sprite + QStringLiteral("'.");
}

QString MaskRun::skippedText(const QString &path)
{
    return QStringLiteral("Status: Skipped '") + path + QStringLiteral("' (could not load it)");
}

QString MaskRun::outputName(const QString &spritePath, const QString &suffix)
{
    const qsizetype cut = extensionAt(spritePath);
    return spritePath.left(cut) + suffix + spritePath.mid(cut);
}

QString MaskRun::suffixProblem(const QString &suffix)
{
    if (suffix.isEmpty())
        return QStringLiteral("The mask suffix is empty, so every mask would be written over "
                              "its own sprite. Type a suffix such as _mask first.");
    if (suffix.contains(QLatin1Char('/')))
        return QStringLiteral("The mask suffix must not contain \"/\": masks are written "
                              "beside their sprites.");
    return {};
}

void MaskRun::show(MaskWindow::Show when)
{
    m_host.show(m_view, when);
    m_view.scroll.reset();
}

void MaskRun::maskFile()
{
    RunHost &h = m_host;
    m_wrote = false;
    m_last = MaskScan::Result();
    h.setCancelRun(false);
    h.setCancelEnabled(true);
    h.ControlsEnabled(false);

    try {
        m_last = MaskScan(h, h.transparencyColour(), h.maskColour(), m_view).run();
        if (m_last.outcome == MaskScan::Result::Cancelled)
            return; // the Cancel button has unlocked the window already
        if (m_last.error)
            throw *m_last.error;

        h.ControlsEnabled(true);
        h.setCancelEnabled(false);
        m_view.status = readyText(m_last.elapsed);
        m_view.statusPath.clear();

        const QString sprite = h.currentFile();
        const QString output = outputName(sprite, h.suffix());
        // Whatever the suffix, a sprite is never written over; with no file at all there is
        // no folder to write into.
        bool write = !sprite.isEmpty() && output != sprite;
        // Only an answered question replaces anything. Without one, the name is taken in the
        // step that puts the mask in place, so a file that appears there meanwhile is kept.
        Existing existing = Existing::Replace;
        bool question = false;
        if (write && h.promptOverwrite()) {
            question = entryExists(output);
            if (!question)
                existing = Existing::Keep;
            else if (m_overwriteRest)
                write = *m_overwriteRest, question = false;
        }
        // The Ready text comes before the write: on screen too when the write takes a while
        // or a question waits for the user.
        const QImage &picture = h.maskPicture();
        const bool slowWrite = qint64(picture.width()) * picture.height() >= SlowWritePixels;
        show(question || slowWrite ? MaskWindow::Show::Now : MaskWindow::Show::IfDue);
        if (question) {
            bool forRest = false;
            switch (h.askOverwrite(output, m_batchFilesLeft > 0, forRest)) {
            case RunHost::Overwrite::Yes: write = true; break;
            case RunHost::Overwrite::No: write = false; break;
            case RunHost::Overwrite::Cancel:
                // As the Cancel button: this file is left without its mask, the batch ends.
                h.setCancelRun(true);
                m_view.status = MaskScan::cancelledText(m_last.percent, m_last.elapsed);
                show(MaskWindow::Show::Now);
                return;
            }
            if (forRest)
                m_overwriteRest = write;
        }
        if (write)
            writeBmp(h.maskPicture(), output, existing);
        if (h.beepAfterEachFile())
            h.beep();
        if (write) {
            m_wrote = true;
            h.log(maskedEntry(sprite, output));
        }
    } catch (const RunError &e) {
        errorExit(e);
    }
}

void MaskRun::errorExit(const RunError &error)
{
    RunHost &h = m_host;
    h.ControlsEnabled(true);
    h.setCancelEnabled(false);
    m_view.percent = m_last.percent;
    m_view.status = errorText(m_last.percent, m_last.elapsed);
    m_view.statusPath = h.logPath();
    show(MaskWindow::Show::Now);
    h.logError(failedEntry(h.currentFile()), error);
    saveAndOfferLog(QStringLiteral("Masking '") + h.currentFile() + QStringLiteral("' failed (") +
                    error.description() + QLatin1Char(')'));
}

void MaskRun::saveAndOfferLog(const QString &failure)
{
    RunHost &h = m_host;
    try {
        h.saveLog();
    } catch (const RunError &e) {
        // The user is told once; a batch goes on with its next file.
        h.reportFailure(failure + QStringLiteral(", and the debug log could not be written: ") +
                        e.description());
        return;
    }
    h.offerLog();
}

void MaskRun::maskAll()
{
    RunHost &h = m_host;
    const int m = h.fileCount();
    int skipped = 0;
    bool locked = false;
    for (int i = 0; i < m; ++i) {
        m_batchFilesLeft = m - 1 - i;
        // The counter names the file about to start from here on, so a cancel caught before
        // it begins names a file that has no mask, never the one just finished.
        m_view.fileCounter = QStringLiteral("File %1 of %2").arg(i + 1).arg(m);
        if (i > 0) {
            // Between two files the window yields once, locked as during a scan, so that
            // a batch of sprites too small to reach a refresh point still shows its files
            // and can be cancelled.
            h.setCancelRun(false);
            h.setCancelEnabled(true);
            h.ControlsEnabled(false);
            locked = true;
            h.yield();
            if (h.cancelRun()) {
                // The Cancel button has unlocked the window. The file had not begun.
                m_view.percent = 0;
                m_view.status = MaskScan::cancelledText(0, 0);
                m_view.statusPath.clear();
                show(MaskWindow::Show::Now);
                return;
            }
        }
        show(MaskWindow::Show::BeforeLoad);
        const QString path = h.fileAt(i);
        // A file that cannot be loaded is not masked: the picture on show is the previous
        // file's, and its mask must not be written under this file's name.
        if (!h.loadSprite(path)) {
            m_view.status = skippedText(path);
            m_view.statusPath.clear();
            show(MaskWindow::Show::IfDue);
            ++skipped;
            continue;
        }
        maskFile();
        locked = false;
        if (h.cancelRun())
            return;
    }
    if (locked) {
        h.ControlsEnabled(true);
        h.setCancelEnabled(false);
    }
    // The skips are in the log; without this the batch would end looking as if every file
    // had been masked.
    if (skipped > 0)
        saveAndOfferLog(QString::number(skipped) + QStringLiteral(" of ") + QString::number(m) +
                        QStringLiteral(" files could not be loaded"));
    if (h.cheerAtEnd())
        h.cheer();
    h.flash();
}
