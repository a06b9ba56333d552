#pragma once

#include "MaskRule.h"
#include "MaskWriter.h"
#include "RunHost.h"

#include <QImage>

class clsDebug;
class QMutex;

// One sprite file masked without a window: the run's host made of two images. Masks come
// out byte for byte as the window writes them, since both go through the same run.
class FileJob final : public RunHost
{
public:
    struct Settings {
        MaskRule rule; // the keys, fuzz, alpha threshold and the mask colour
        QString suffix;
        MaskOutput kind; // BMP or PNG content, 24 or 1 bit
        // Whether a mask of these settings is the window's mask, and so made by its run.
        bool sameAsWindow() const
        {
            return rule.isExact() && kind.format == MaskFormat::Bmp && kind.depth == 24;
        }
    };
    enum class Outcome { Masked, Skipped, Failed };

    FileJob(const Settings &settings, clsDebug &log, QMutex &logLock);

    // Loads and masks one file into `output`; afterwards outcome() and problem() tell how
    // it went. With Existing::Keep a mask that is there (or appears meanwhile) is kept and
    // the outcome is Skipped.
    void run(const QString &path, const QString &output, Existing existing);
    Outcome outcome() const { return m_outcome; }
    const QString &problem() const { return m_problem; }
    const QString &output() const { return m_output; }

    // MaskWindow: nothing to show, nobody to yield to.
    const QImage &spritePicture() const override { return m_sprite; }
    QImage &maskPicture() override { return m_mask; }
    void clearMask() override;
    void maskPictureChanged() override {}
    int maskRepaintInterval() const override;
    QSize progressBarSize() const override { return {100, 1}; }
    void clearProgressBar() override {}
    void fillProgressBar(float) override {}
    bool scrollFollowsScan() const override { return false; }
    double maskViewportWidth() const override { return 0; }
    int hScrMaskMax() const override { return 0; }
    int hScrSpriteMax() const override { return 0; }
    void setHScrMaskValue(int) override {}
    void setHScrSpriteValue(int) override {}
    void setStatus(const QString &) override {}
    Colour transparencyColour() const override { return m_settings.rule.transparent(); }
    Colour maskColour() const override { return m_settings.rule.mask; }
    void yield() override {}
    bool cancelRun() const override { return false; }
    void setCancelRun(bool) override {}
    void setCancelEnabled(bool) override {}
    void ControlsEnabled(bool) override {}

    // RunHost: an existing mask is skipped unless overwriting was asked for.
    QString currentFile() const override { return m_file; }
    QString suffix() const override { return m_settings.suffix; }
    bool promptOverwrite() const override { return m_existing == Existing::Keep; }
    bool beepAfterEachFile() const override { return false; }
    bool cheerAtEnd() const override { return false; }
    bool askOverwrite(const QString &) override;
    void beep() override {}
    void log(const QString &text) override;
    void logError(const QString &text, const RunError &error) override;
    void saveLog() override {}
    QString logPath() const override { return {}; }
    void offerLog() override {}
    void reportFailure(const QString &message) override { m_problem = message; }
    int fileCount() const override { return 0; }
    QString fileAt(int) const override { return {}; }
    void setFileCounter(const QString &) override {}
    bool loadSprite(const QString &path) override;
    void cheer() override {}
    void flash() override {}

private:
    // Masks that are not the window's (other rules, other files, other folders): the rule
    // over the whole picture, then the writer.
    void runWithRule(const QString &path);

    const Settings &m_settings;
    clsDebug &m_log;
    QMutex &m_logLock;
    QImage m_sprite, m_mask;
    QString m_file, m_output, m_problem;
    bool m_existed = false;
    Existing m_existing = Existing::Keep;
    Outcome m_outcome = Outcome::Failed;
};
