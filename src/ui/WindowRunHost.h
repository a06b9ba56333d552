#pragma once

#include "RunHost.h"

class frmMain;

// The window as a masking run sees it: its controls, dialogs, log and frame pacing behind
// the run's interface. Holds no state of its own; one is made for each run.
class WindowRunHost final : public RunHost
{
public:
    explicit WindowRunHost(frmMain &window) : m_w(window) {}

    const QImage &spritePicture() const override;
    QImage &maskPicture() override;
    void clearMask() override;
    bool scrollFollowsScan() const override;
    double maskViewportWidth() const override;
    int hScrMaskMax() const override;
    bool frameDue() const override;
    void show(const RunView &view, Show when) override;
    void yield() override;
    void scanStarted() override;
    void scanEnded() override;
    bool cancelRun() const override;

    Colour transparencyColour() const override;
    Colour maskColour() const override;
    void setCancelRun(bool set) override;
    void setCancelEnabled(bool enabled) override;
    void ControlsEnabled(bool enable) override;

    QString currentFile() const override;
    QString suffix() const override;
    bool promptOverwrite() const override;
    bool beepAfterEachFile() const override;
    bool cheerAtEnd() const override;
    Overwrite askOverwrite(const QString &outputName, bool moreFiles, bool &forRest) override;
    void beep() override;
    void log(const QString &text) override;
    void logError(const QString &text, const RunError &error) override;
    void saveLog() override;
    QString logPath() const override;
    void offerLog() override;
    void reportFailure(const QString &message) override;
    int fileCount() const override;
    QString fileAt(int index) const override;
    bool loadSprite(const QString &path) override;
    void cheer() override;
    void flash() override;

private:
    frmMain &m_w;
};
