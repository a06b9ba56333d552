#include "FileJob.h"

#include "MaskRun.h"
#include "MaskRule.h"
#include "MaskWriter.h"
#include "PictureIO.h"
#include "RunError.h"
#include "clsDebug.h"

#include <QMutex>

#include <climits>

FileJob::FileJob(const Settings &settings, clsDebug &log, QMutex &logLock)
    : m_settings(settings), m_log(log), m_logLock(logLock)
{
}

void FileJob::clearMask()
{
    // The window's mask surface has the sprite's size and a white background.
    m_mask = QImage(m_sprite.size(), QImage::Format_RGB32);
    m_mask.fill(0xFFFFFFFF);
}

int FileJob::maskRepaintInterval() const
{
    return INT_MAX; // nobody looks before the end
}

bool FileJob::askOverwrite(const QString &)
{
    m_existed = true;
    return false;
}

void FileJob::log(const QString &text)
{
    QMutexLocker lock(&m_logLock);
    m_log.Print_(text);
}

void FileJob::logError(const QString &text, const RunError &error)
{
    // Another run took the mask's name between the check and the write: its mask is kept.
    if (error.number() == RunError::FileAlreadyExists)
        m_existed = true;
    else if (m_problem.isEmpty())
        m_problem = error.description();
    QMutexLocker lock(&m_logLock);
    m_log.Print_(text, error);
}

bool FileJob::loadSprite(const QString &path)
{
    m_file = path;
    try {
        m_sprite = readPicture(path);
        return true;
    } catch (const RunError &e) {
        logError(QStringLiteral("Can't load '") + path + QLatin1Char('\''), e);
        return false;
    }
}

void FileJob::run(const QString &path, const QString &output, Existing existing)
{
    m_outcome = Outcome::Failed;
    m_existing = existing;
    m_output = output;
    bool wrote = false;
    if (!m_settings.sameAsWindow() || output != MaskRun::outputName(path, m_settings.suffix)) {
        runWithRule(path);
        wrote = m_outcome == Outcome::Masked;
    } else {
        if (!loadSprite(path))
            return;
        MaskRun run(*this);
        run.maskFile();
        wrote = run.wroteMask();
    }
    if (wrote)
        m_outcome = Outcome::Masked;
    else if (m_problem.isEmpty() && m_existed)
        m_outcome = Outcome::Skipped;
    else if (m_problem.isEmpty())
        m_problem = QStringLiteral("nothing was written");
    m_sprite = QImage();
    m_mask = QImage();
}

void FileJob::runWithRule(const QString &path)
{
    m_file = path;
    const MaskRule &rule = m_settings.rule;
    QImage sprite;
    try {
        sprite = readPicture(path, rule.usesAlpha() ? PictureAlpha::Keep : PictureAlpha::Drop);
    } catch (const RunError &e) {
        logError(QStringLiteral("Can't load '") + path + QLatin1Char('\''), e);
        return;
    }
    try {
        writeMask(maskOf(sprite, rule), m_output, m_settings.kind, toQRgb(rule.mask),
                  toQRgb(rule.transparent()), m_existing);
        m_outcome = Outcome::Masked;
        log(QStringLiteral("Image '") + path + QStringLiteral("' masked successfully; mask saved as '") +
            m_output + QStringLiteral("'."));
    } catch (const RunError &e) {
        logError(QStringLiteral("An error occured while masking '") + path + QStringLiteral("'."), e);
    }
}
