#pragma once

#include "Colour.h"
#include "FramePacer.h"
#include "MaskScan.h"

#include <QList>
#include <QMainWindow>
#include <QUrl>

#include <array>

class LinkLabel;
class PictureSurface;
class QAction;
class QDragEnterEvent;
class QDropEvent;

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollBar;

// The main window, one class over four files: building it, its settings and its close
// (frmMain.cpp); the runs, their lock and their frames (frmMain_Run.cpp); pictures, the
// file list, browse and drop (frmMain_Files.cpp); the colours, the eyedropper and the panes
// (frmMain_Panes.cpp). A masking run sees it through WindowRunHost; when it paints during a
// run is FramePacer's to say.
//
// Its controls are its own: others find them by their objectName, which is the name the
// rest of the program knows them by. Each carries a tag: "<d>" marks what a masking run
// locks, "<s>" what is a stored setting. One list holds them all in the window's control
// order; the lock and the settings walk that list rather than naming controls again.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    struct TaggedControl {
        QObject *control; // a QWidget, a QAction, or a QMenu (which stands for its whole menu)
        QString tag;
    };

    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The window's load step.
    void Form_Load();
    // Restore and store the options and the suffix (the controls tagged "<s>").
    void LoadSettings();
    void SaveSettings();

    void MaskFile();
    void FlashMe();

    // Shows a picture file on the surface and makes it the current file (even when the
    // load fails: that is logged, and the surface keeps its picture). True when it loaded.
    bool LoadPic(PictureSurface *PicBox, const QString &Filename);
    // Asks for a name and writes the picture there as BMP, asking before it replaces a file.
    void SaveAs(const QImage &pic);
    QString ShowSave();
    // The two mask colours with their swatches. A new transparency colour makes the mask
    // colour its complement.
    void SetTColor(Colour Color);
    void SetMColor(Colour Color);
    // Runs the colour picker; -1 when the user cancelled.
    Colour PickColor(Colour InitialColor, const QString &Caption);

    // Opens the browse dialog: Mode 1 replaces the list, any other adds to it.
    void Browse(qint16 Mode);
    // Adds paths at the end of the file list (after emptying it when `replace`), leaving
    // the list's current entry as it was.
    void addFiles(const QStringList &paths, bool replace);
    // Files picked in the browse dialog, dropped, or named on the command line: they join
    // the list, its first entry is shown, and the list's buttons and Save Sprite come on.
    void filesAdded(const QStringList &paths, bool replace);
    // The program's arguments: files, and folders with their "*.bmp" files, appended as
    // Append Files would add them.
    void openFiles(const QStringList &paths);
    // The session or a signal ends the program without a question: the settings are
    // stored, the log is written, and the process ends, also in the middle of a scan.
    void endSession();
    // Locks (false) or unlocks (true) the controls tagged "<d>".
    void ControlsEnabled(bool Enable);
    const QList<TaggedControl> &taggedControls() const { return m_tagged; }
    static bool isControlEnabled(const QObject *control);

    // Sets a label's text and sizes the label to it.
    static void setCaption(QLabel *label, const QString &text);

    // The outcome of the last scan (its percent and elapsed seconds).
    const MaskScan::Result &lastScan() const { return m_lastScan; }
    // Milliseconds between two on-screen updates of the mask during a scan; 0 shows it at
    // every refresh point.
    void setMaskRepaintInterval(int ms) { m_pacer.setInterval(ms); }
    // The file the sprite surface was last asked to show (loaded or not).
    const QString &currentFile() const { return CurrentFile; }

public slots:
    void cmdMaskAll_Click();
    void cmdMaskCurr_Click();
    void cmdCancel_Click();
    void cmdSelFiles_Click();
    void cmdAppendFiles_Click();
    void cmdClearList_Click();
    void lstFiles_Click(int index);
    void mnuSaveSprite_Click();
    void mnuSaveMask_Click();
    void picTColor_Click();
    void picMColor_Click();

    // Files and folders dropped on the window join the list as Append Files would add
    // them: a folder brings its "*.bmp" files, or every picture when Shift is held.
    QStringList droppedFiles(const QList<QUrl> &urls, bool everyPicture) const;
    QStringList listedFiles(const QStringList &paths, bool everyPicture) const;

protected:
    // Drops the window's own repaint requests while the frame pacer holds them back.
    bool event(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    // Every way of closing the window comes here: the settings are stored, then the user
    // is asked whether to exit.
    void closeEvent(QCloseEvent *event) override;

private:
    friend class WindowRunHost;

    // LoadPic's failure: logged, the sprite marked as not loaded. Returns false.
    bool cannotLoad(PictureSurface *PicBox, const QString &Filename, const class RunError &e);
    void buildControls(QWidget *client);
    void buildMenus();
    void setTabOrder();
    void picSprite_Resize();
    // The eyedropper: left alone picks the transparency colour, right alone the mask colour.
    void pickFromSprite(int buttons, int x, int y);
    // Moves each picture to minus its bars' positions.
    void scrollPictures();
    // Says why a run cannot start, or returns true.
    bool runCanStart();
    // Paints whatever is due, now, also while the pacer holds repaints back.
    void paintNow();
    // Puts what a run shows at one moment on the controls.
    void applyRunView(const RunView &view);
    // The status line; a `path` at its end is shortened to what the window has room for,
    // and shown whole in the line's tooltip.
    void setStatusLine(const QString &text, const QString &path);

    // Controls. Names are those the rest of the program uses; Label1 is indexed as designed.
    QLabel *Image1, *lblTitle, *lblVer, *lblFileStat, *lblStatus;
    LinkLabel *lblWebsite;
    std::array<QLabel *, 6> Label1{};
    QComboBox *lstFiles;
    QLineEdit *txtSuffix;
    QPushButton *cmdSelFiles, *cmdAppendFiles, *cmdClearList, *cmdMaskCurr, *cmdMaskAll, *cmdCancel;
    PictureSurface *conSprite, *picSprite, *conMask, *picMask;
    QScrollBar *HScrSprite, *VScrSprite, *HScrMask, *VScrMask;
    PictureSurface *picTColor, *picMColor, *picProgress;

    QMenu *mnuFile, *mnuOptions, *mnuHelp;
    QAction *mnuSaveSprite, *mnuSaveMask, *sep2, *mnuQuit;
    QAction *chkPromptOverwrite, *chkBeep, *chkCheer, *chkDoScroll;
    QAction *mnuMainHelp, *sep1, *mnuAbout;

    // The run's state, as a run found it and left it.
    Colour TColor = Black;
    Colour MColor = White;
    QString CurrentFile;
    bool CancelRun = false;
    qint16 BrowseMode = 0;

    // Whether the sprite surface shows CurrentFile (false before the first load and after
    // a load that failed).
    bool m_spriteLoaded = false;
    QWidget *m_client = nullptr;
    QList<TaggedControl> m_tagged;
    MaskScan::Result m_lastScan;
    FramePacer m_pacer;
    int m_shownPercent = 0;
    // A Mask All or Mask Current is under way: nothing else that starts a run, changes the
    // list or opens a dialog of the run's controls may start until it ends, also when a
    // Cancel has unlocked the controls while the scan is still inside its yield.
    bool m_running = false;
};
