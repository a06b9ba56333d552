#pragma once

#include "MaskScan.h"

class RunHost;

// Masks files: one (maskFile) or the host's whole list (maskAll). It locks the host while
// it scans, names and writes each mask beside its sprite, and logs what happened. It runs
// the window's Mask Current and Mask All; the command line masks through FileJob instead.
class MaskRun
{
public:
    explicit MaskRun(RunHost &host);

    // Masks the picture the host shows, whose file is host.currentFile(). Always returns
    // normally; a cancel is seen through the host's cancel flag, a failure in lastScan()
    // and the log.
    void maskFile();
    void maskAll();

    const MaskScan::Result &lastScan() const { return m_last; }
    // Whether the last maskFile() wrote its mask.
    bool wroteMask() const { return m_wrote; }

    // The mask's name: the sprite's path with the suffix inserted before the extension of
    // the file name (never of a folder name).
    static QString outputName(const QString &spritePath, const QString &suffix);
    // Why a suffix cannot be used, or "" when it can: an empty one would put each mask over
    // its sprite, one with a "/" somewhere else than beside it.
    static QString suffixProblem(const QString &suffix);

    static QString readyText(float elapsed);
    // Ends with "See ": the log's path follows it on the status line.
    static QString errorText(int percent, float elapsed);
    static QString skippedText(const QString &path);
    // The debug log's entries of one file, the same from the window and the command line:
    // masked, not loaded, and failed while masking or writing (with the error's details).
    static QString maskedEntry(const QString &sprite, const QString &mask);
    static QString cantLoadEntry(const QString &sprite);
    static QString failedEntry(const QString &sprite);

    // Masks of this many pixels or more take long enough to write that the Ready text is
    // painted before the write starts.
    static constexpr qint64 SlowWritePixels = qint64(1) << 20;

private:
    void show(MaskWindow::Show when);
    void errorExit(const RunError &error);
    // Writes the log and offers it; `failure` says what went wrong when it cannot be
    // written.
    void saveAndOfferLog(const QString &failure);

    RunHost &m_host;
    MaskScan::Result m_last;
    bool m_wrote = false;
    // What the run shows; a field left empty leaves the window's own as it stands.
    RunView m_view;
    // Files of the batch after the current one; 0 outside a batch.
    int m_batchFilesLeft = 0;
    // The user's answer to the overwrite question, given for the rest of the batch.
    std::optional<bool> m_overwriteRest;
};
