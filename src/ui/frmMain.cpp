#include "frmMain.h"

#include "Attention.h"
#include "Desktop.h"
#include "PictureIO.h"
#include "RunError.h"
#include "RunUtils.h"
#include "Settings.h"
#include "FileLists.h"
#include "LinkLabel.h"
#include "frmAbout.h"
#include "frmBrowse.h"
#include "modHyperLink.h"
#include "frmPickColor.h"
#include "frmSave.h"
#include "modMain.h"
#include "MaskRun.h"
#include "PictureSurface.h"
#include "ProgramIcon.h"
#include "Rounding.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QCloseEvent>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>

#include <algorithm>

namespace {

constexpr int ClientWidth = 761;
constexpr int ClientHeight = 617;

QFont courier(double points, bool bold = false, bool italic = false)
{
    QFont f(QStringLiteral("Courier New"));
    // QFont(name, int) would cut 9.75 down to 9 points.
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

// The background of surfaces that were given none: the desktop's window face.
Colour faceColour()
{
    return fromQRgb(QApplication::palette().color(QPalette::Window).rgb());
}

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Scroll bars hold 16-bit values.
int clamp16(int v)
{
    return std::clamp(v, -32768, 32767);
}

void setScrollRange(QScrollBar *bar, double overhang)
{
    bar->setMaximum(clamp16(roundHalfEven(overhang)));
    bar->setMinimum(0);
    // A step below one pixel would make the arrows and the track do nothing.
    bar->setSingleStep(std::max(1, roundHalfEven(bar->maximum() / 10.0)));
    bar->setPageStep(std::max(1, roundHalfEven(bar->maximum() / 5.0)));
}

void clearScrollRange(QScrollBar *bar)
{
    bar->setMaximum(0);
    bar->setMinimum(0);
}

} // namespace

frmMain::frmMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFixedSize(ClientWidth, ClientHeight);
    m_client->setFont(courier(9.75));
    setCentralWidget(m_client);

    buildControls(m_client);
    buildMenus();
    setTabOrder();

    // The window's cancel button: Esc presses it, but only while it can be pressed.
    auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, [this] {
        if (cmdCancel->isEnabled())
            cmdCancel->click();
    });

    setAcceptDrops(true);
    adjustSize();
    setFixedSize(sizeHint());
}

frmMain::~frmMain() = default;

void frmMain::buildControls(QWidget *c)
{
    auto label = [c](const char *name, int x, int y, int w, int h, const QString &text) {
        auto *l = named(new QLabel(text, c), name);
        l->setGeometry(x, y, w, h);
        return l;
    };

    Image1 = named(new QLabel(c), "Image1");
    Image1->setGeometry(8, 8, 88, 88);
    Image1->setPixmap(QPixmap::fromImage(programIconImage(88)));
    Image1->setScaledContents(true);

    lblTitle = label("lblTitle", 104, 8, 143, 23, QString());
    lblTitle->setFont(courier(15.75, true, true));
    lblVer = label("lblVer", 112, 32, 88, 16, QString());
    lblWebsite = named(new LinkLabel(WebsiteHost, c), "lblWebsite");
    lblWebsite->setGeometry(112, 48, 112, 16);
    connect(lblWebsite, &LinkLabel::clicked, this, [this] { OpenLink(WebsiteUrl, "open", this); });

    Label1[0] = label("Label1(0)", 8, 104, 128, 16, QStringLiteral("&Selected File(s)"));
    lstFiles = named(new QComboBox(c), "lstFiles");
    lstFiles->setGeometry(144, 104, 425, 24);
    Label1[0]->setBuddy(lstFiles);

    Label1[4] = label("Label1(4)", 576, 88, 96, 16, QStringLiteral("Mask s&uffix:"));
    txtSuffix = named(new QLineEdit(QStringLiteral("_mask"), c), "txtSuffix");
    txtSuffix->setGeometry(576, 104, 105, 25);
    Label1[4]->setBuddy(txtSuffix);

    auto button = [c](const char *name, int x, int y, int w, int h, const QString &text) {
        auto *b = named(new QPushButton(text, c), name);
        b->setGeometry(x, y, w, h);
        b->setAutoDefault(false);
        return b;
    };
    cmdSelFiles = button("cmdSelFiles", 144, 136, 161, 17, QStringLiteral("Selec&t Files.."));
    cmdAppendFiles =
        button("cmdAppendFiles", 312, 136, 129, 17, QStringLiteral("&Append Files.."));
    cmdAppendFiles->setEnabled(false);
    cmdClearList = button("cmdClearList", 448, 136, 121, 17, QStringLiteral("&Clear List"));
    cmdClearList->setEnabled(false);

    Label1[1] = label("Label1(1)", 8, 160, 56, 16, QStringLiteral("Sprite:"));
    Label1[2] = label("Label1(2)", 392, 160, 40, 16, QStringLiteral("Mask:"));

    // The panes: a sunken clipping frame holding a borderless picture, and two bars.
    auto pane = [c](const char *conName, const char *picName, int x, Colour back,
                    PictureSurface *&con, PictureSurface *&pic) {
        con = named(new PictureSurface(c, PictureSurface::SunkenBorder, faceColour()), conName);
        con->place(QRect(x, 176, 345, 345));
        pic = named(new PictureSurface(con->client(), PictureSurface::NoBorder, back), picName);
        pic->place(QRect(0, 0, 97, 97));
    };
    pane("conSprite", "picSprite", 8, Black, conSprite, picSprite);
    pane("conMask", "picMask", 392, White, conMask, picMask);
    picSprite->setAutoSize(true);
    picSprite->setCursor(Qt::CrossCursor);

    auto bar = [c](const char *name, Qt::Orientation o, int x, int y, int w, int h) {
        auto *b = named(new QScrollBar(o, c), name);
        b->setGeometry(x, y, w, h);
        b->setRange(0, 0);
        // A change notice after each completed change, none while the thumb is dragged.
        b->setTracking(false);
        b->setFocusPolicy(Qt::StrongFocus);
        return b;
    };
    HScrSprite = bar("HScrSprite", Qt::Horizontal, 8, 520, 345, 17);
    VScrSprite = bar("VScrSprite", Qt::Vertical, 352, 176, 17, 345);
    HScrMask = bar("HScrMask", Qt::Horizontal, 392, 520, 345, 17);
    VScrMask = bar("VScrMask", Qt::Vertical, 736, 176, 17, 345);
    for (QScrollBar *b : {HScrSprite, VScrSprite, HScrMask, VScrMask})
        connect(b, &QScrollBar::valueChanged, this, &frmMain::scrollPictures);
    connect(picSprite, &PictureSurface::sizeChanged, this, &frmMain::picSprite_Resize);

    Label1[3] = label("Label1(3)", 8, 544, 133, 14, QStringLiteral("Transparency Color:"));
    Label1[5] = label("Label1(5)", 168, 544, 105, 14, QStringLiteral("Opposite Color:"));
    for (QLabel *l : {Label1[3], Label1[5]}) {
        l->setFont(courier(8.25));
        l->setAlignment(Qt::AlignRight | Qt::AlignTop);
    }
    picTColor = named(new PictureSurface(c, PictureSurface::SingleBorder, Black), "picTColor");
    picTColor->place(QRect(144, 544, 17, 17));
    picMColor = named(new PictureSurface(c, PictureSurface::SingleBorder, White), "picMColor");
    picMColor->place(QRect(280, 544, 17, 17));
    for (PictureSurface *s : {picTColor, picMColor})
        s->setCursor(Qt::UpArrowCursor);
    // A click is a left press and release over the swatch.
    connect(picTColor, &PictureSurface::mouseReleased, this, [this](int b, int x, int y) {
        if (b == 1 && picTColor->image().rect().contains(x, y))
            picTColor_Click();
    });
    connect(picMColor, &PictureSurface::mouseReleased, this, [this](int b, int x, int y) {
        if (b == 1 && picMColor->image().rect().contains(x, y))
            picMColor_Click();
    });
    connect(picSprite, &PictureSurface::mousePressed, this, &frmMain::pickFromSprite);
    connect(picSprite, &PictureSurface::mouseMoved, this, &frmMain::pickFromSprite);

    cmdMaskCurr = button("cmdMaskCurr", 352, 544, 129, 25, QStringLiteral("&Mask Current"));
    cmdMaskAll = button("cmdMaskAll", 488, 544, 129, 25, QStringLiteral("Mas&k All"));
    cmdCancel = button("cmdCancel", 624, 544, 129, 25, QStringLiteral("Cancel (ESC)"));
    cmdCancel->setEnabled(false);
    connect(cmdMaskCurr, &QPushButton::clicked, this, &frmMain::cmdMaskCurr_Click);
    connect(cmdMaskAll, &QPushButton::clicked, this, &frmMain::cmdMaskAll_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
    connect(cmdSelFiles, &QPushButton::clicked, this, &frmMain::cmdSelFiles_Click);
    connect(cmdAppendFiles, &QPushButton::clicked, this, &frmMain::cmdAppendFiles_Click);
    connect(cmdClearList, &QPushButton::clicked, this, &frmMain::cmdClearList_Click);
    connect(lstFiles, &QComboBox::activated, this, &frmMain::lstFiles_Click);
    txtSuffix->installEventFilter(this);

    lblFileStat = label("lblFileStat", 8, 576, 88, 16, QStringLiteral("File 0 of 0"));
    lblStatus = label("lblStatus", 144, 576, 104, 16, QStringLiteral("Status: Ready"));
    picProgress =
        named(new PictureSurface(c, PictureSurface::SunkenBorder, faceColour()), "picProgress");
    picProgress->place(QRect(8, 592, 745, 17));

    // Left-aligned labels size themselves to their text; the two right-aligned ones keep
    // their right edge where it was designed.
    for (QLabel *l : std::initializer_list<QLabel *>{lblTitle, lblVer, lblWebsite, Label1[0], Label1[4], Label1[1], Label1[2],
                      lblFileStat, lblStatus})
        setCaption(l, l->text());
}

void frmMain::buildMenus()
{
    auto action = [this](QMenu *menu, const char *name, const QString &text,
                         const QKeySequence &key = {}) {
        QAction *a = named(menu->addAction(text), name);
        a->setShortcut(key);
        return a;
    };
    auto check = [&](QMenu *menu, const char *name, const QString &text,
                     const QKeySequence &key, bool checked) {
        QAction *a = action(menu, name, text, key);
        a->setCheckable(true);
        a->setChecked(checked);
        return a;
    };

    mnuFile = named(menuBar()->addMenu(QStringLiteral("&File")), "mnuFile");
    mnuSaveSprite = action(mnuFile, "mnuSaveSprite", QStringLiteral("Save &Sprite As..."),
                           QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuSaveMask = action(mnuFile, "mnuSaveMask", QStringLiteral("Save &Mask As..."),
                         QKeySequence(Qt::CTRL | Qt::Key_M));
    mnuSaveSprite->setEnabled(false);
    mnuSaveMask->setEnabled(false);
    sep2 = named(mnuFile->addSeparator(), "sep2");
    mnuQuit = action(mnuFile, "mnuQuit", QStringLiteral("Quit"));
    connect(mnuQuit, &QAction::triggered, this, &QWidget::close);
    connect(mnuSaveSprite, &QAction::triggered, this, &frmMain::mnuSaveSprite_Click);
    connect(mnuSaveMask, &QAction::triggered, this, &frmMain::mnuSaveMask_Click);

    mnuOptions = named(menuBar()->addMenu(QStringLiteral("&Options")), "mnuOptions");
    chkPromptOverwrite = check(mnuOptions, "chkPromptOverwrite",
                               QStringLiteral("&Prompt Overwrite"),
                               QKeySequence(Qt::CTRL | Qt::Key_P), false);
    chkBeep = check(mnuOptions, "chkBeep", QStringLiteral("&Beep when a file is finished"),
                    QKeySequence(Qt::CTRL | Qt::Key_B), true);
    chkCheer = check(mnuOptions, "chkCheer", QStringLiteral("&Cheer when all files are finished"),
                     QKeySequence(Qt::CTRL | Qt::Key_C), true);
    chkDoScroll = check(mnuOptions, "chkDoScroll", QStringLiteral("&Increment the scrollbars"),
                        QKeySequence(Qt::CTRL | Qt::Key_I), true);

    mnuHelp = named(menuBar()->addMenu(QStringLiteral("&Help")), "mnuHelp");
    mnuMainHelp = action(mnuHelp, "mnuMainHelp", QStringLiteral("How To Use"),
                         QKeySequence(Qt::Key_F1));
    sep1 = named(mnuHelp->addSeparator(), "sep1");
    mnuAbout = action(mnuHelp, "mnuAbout", QStringLiteral("About.."),
                      QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(mnuMainHelp, &QAction::triggered, this, [this] { openHelp(this); });
    connect(mnuAbout, &QAction::triggered, this, [this] {
        frmAbout about(this);
        desktop().exec(about);
    });

    // The window's control order; the lock and the settings walk this list.
    const QString d = QStringLiteral("<d>"), s = QStringLiteral("<s>"), none;
    m_tagged = {
        {picMColor, d},       {txtSuffix, d + s},    {cmdMaskAll, d},     {picTColor, d},
        {cmdMaskCurr, d},     {cmdClearList, d},     {cmdAppendFiles, d}, {picMask, d},
        {picSprite, d},       {cmdSelFiles, d},      {lstFiles, d},       {cmdCancel, none},
        {Image1, none},       {lblTitle, none},      {lblVer, none},      {lblWebsite, none},
        {Label1[0], none},    {Label1[1], none},     {Label1[2], none},   {Label1[3], none},
        {Label1[4], none},    {Label1[5], none},     {conSprite, none},   {conMask, none},
        {HScrSprite, none},   {VScrSprite, none},    {HScrMask, none},    {VScrMask, none},
        {lblFileStat, none},  {lblStatus, none},     {picProgress, none}, {mnuFile, none},
        {mnuSaveSprite, d},   {mnuSaveMask, d},      {sep2, none},        {mnuQuit, none},
        {mnuOptions, none},   {chkPromptOverwrite, s}, {chkBeep, s},      {chkCheer, s},
        {chkDoScroll, s},     {mnuHelp, d},          {mnuMainHelp, none}, {sep1, none},
        {mnuAbout, none},
    };
    for (const TaggedControl &t : m_tagged)
        t.control->setProperty("tag", t.tag);
}

void frmMain::setTabOrder()
{
    const QList<QWidget *> order = {cmdSelFiles, cmdAppendFiles, cmdClearList, cmdMaskCurr,
                                    cmdMaskAll,  cmdCancel,      lstFiles,     txtSuffix,
                                    HScrSprite,  HScrMask,       VScrSprite,   VScrMask};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    cmdSelFiles->setFocus();
}

void frmMain::Form_Load()
{
    setCaption(lblTitle, ProductTitle);
    setWindowTitle(ProductTitle);
    TColor = Black;
    MColor = White;
    txtSuffix->setText(
        GetSetting(QStringLiteral("sys"), QStringLiteral("suffix"), QStringLiteral("_mask")));
    setCaption(lblVer, versionText());
    lstFiles->clear();
    LoadSettings();
}

namespace {

const QString SettingsSection = QStringLiteral("settings");

bool isStored(const frmMain::TaggedControl &t)
{
    return t.tag.contains(QLatin1String("<s>"));
}

} // namespace

void frmMain::LoadSettings()
{
    // Only menu items are walked; the suffix box is the one other stored control.
    for (const TaggedControl &t : std::as_const(m_tagged))
        if (auto *item = qobject_cast<QAction *>(t.control); item && isStored(t))
            item->setChecked(settingToBool(
                GetSetting(SettingsSection, item->objectName(), QStringLiteral("True")), true));
    txtSuffix->setText(GetSetting(SettingsSection, txtSuffix->objectName(), QStringLiteral("_mask")));
}

void frmMain::SaveSettings()
{
    for (const TaggedControl &t : std::as_const(m_tagged))
        if (auto *item = qobject_cast<QAction *>(t.control); item && isStored(t))
            SaveSetting(SettingsSection, item->objectName(), boolToSetting(item->isChecked()));
    SaveSetting(SettingsSection, txtSuffix->objectName(), txtSuffix->text());
}

void frmMain::closeEvent(QCloseEvent *event)
{
    SaveSettings();
    // A close during a scan: the window must be able to repaint behind the question.
    const bool holding = m_holdingScreen;
    if (holding)
        m_client->setUpdatesEnabled(true);
    const bool quit = QuitApp(this, txtSuffix->text(), chkPromptOverwrite->isChecked());
    if (holding)
        m_client->setUpdatesEnabled(false);
    if (quit)
        event->accept();
    else
        event->ignore();
}

void frmMain::setCaption(QLabel *label, const QString &text)
{
    label->setText(text);
    label->resize(label->sizeHint());
}

bool frmMain::isControlEnabled(const QObject *control)
{
    if (auto *menu = qobject_cast<const QMenu *>(control))
        return menu->menuAction()->isEnabled();
    if (auto *w = qobject_cast<const QWidget *>(control))
        return w->isEnabled();
    if (auto *a = qobject_cast<const QAction *>(control))
        return a->isEnabled();
    return false;
}

void frmMain::ControlsEnabled(bool Enable)
{
    for (const TaggedControl &t : std::as_const(m_tagged)) {
        if (!t.tag.contains(QLatin1String("<d>")))
            continue;
        if (auto *menu = qobject_cast<QMenu *>(t.control))
            menu->menuAction()->setEnabled(Enable);
        else if (auto *w = qobject_cast<QWidget *>(t.control))
            w->setEnabled(Enable);
        else if (auto *a = qobject_cast<QAction *>(t.control))
            a->setEnabled(Enable);
    }
}

void frmMain::MaskFile()
{
    MaskRun run(*this);
    run.maskFile();
    m_lastScan = run.lastScan();
}

void frmMain::FlashMe()
{
    if (isMinimized())
        FlashWindowTimes(this, 3, 500);
}

bool frmMain::runCanStart()
{
    const QString problem = MaskRun::suffixProblem(txtSuffix->text());
    if (!problem.isEmpty()) {
        desktop().message(this, problem, Desktop::Buttons::Ok, Desktop::Icon::Exclamation,
                          Desktop::Answer::Ok);
        return false;
    }
    return true;
}

void frmMain::cmdMaskAll_Click()
{
    if (!runCanStart())
        return;
    const QScopedValueRollback running(m_running, true);
    MaskRun run(*this);
    run.maskAll();
    m_lastScan = run.lastScan();
}

void frmMain::cmdMaskCurr_Click()
{
    if (!runCanStart())
        return;
    if (!m_spriteLoaded) {
        desktop().message(this,
                          CurrentFile.isEmpty()
                              ? QStringLiteral("There is no sprite to mask yet: pick a file "
                                               "from the list first.")
                              : QStringLiteral("'") + CurrentFile +
                                    QStringLiteral("' could not be loaded, so there is "
                                                   "nothing to mask. Pick another file."),
                          Desktop::Buttons::Ok, Desktop::Icon::Exclamation, Desktop::Answer::Ok);
        return;
    }
    setCaption(lblFileStat, QStringLiteral("File 1 of 1"));
    const QScopedValueRollback running(m_running, true);
    MaskFile();
    FlashMe();
}

void frmMain::cmdCancel_Click()
{
    CancelRun = true;
    cmdCancel->setEnabled(false);
    ControlsEnabled(true);
}

bool frmMain::LoadPic(PictureSurface *PicBox, const QString &Filename)
{
    CurrentFile = Filename;
    try {
        PicBox->setPicture(readPicture(Filename));
        m_spriteLoaded = PicBox == picSprite;
        return true;
    } catch (const RunError &e) {
        if (PicBox == picSprite)
            m_spriteLoaded = false;
        DebugLog.Print_(QStringLiteral("Can't load '") + Filename + QLatin1Char('\''), e);
        return false;
    }
}

QString frmMain::ShowSave()
{
    frmSave dialog(this);
    desktop().exec(dialog);
    return dialog.SavePath;
}

void frmMain::SaveAs(const QImage &pic)
{
    const QString name = ShowSave();
    if (name.isEmpty())
        return;
    // Anything under that name, hidden files included, is asked about before it is lost.
    if (QFileInfo::exists(name) &&
        desktop().message(this,
                          QStringLiteral("The file '") + name +
                              QStringLiteral("' already exists! Overwrite?"),
                          Desktop::Buttons::YesNo, Desktop::Icon::Question,
                          Desktop::Answer::Yes) != Desktop::Answer::Yes)
        return;
    try {
        writeBmp(pic, name);
    } catch (const RunError &e) {
        desktop().message(this, QStringLiteral("Can't save '") + name + QStringLiteral("': ") +
                                    e.description(),
                          Desktop::Buttons::Ok, Desktop::Icon::Exclamation, Desktop::Answer::Ok);
    }
}

void frmMain::mnuSaveSprite_Click()
{
    SaveAs(picSprite->image());
}

void frmMain::mnuSaveMask_Click()
{
    SaveAs(picMask->image());
}

void frmMain::SetTColor(Colour Color)
{
    TColor = Color;
    picTColor->setBackColor(Color);
    SetMColor(complement(Color));
}

void frmMain::SetMColor(Colour Color)
{
    MColor = Color;
    picMColor->setBackColor(Color);
}

Colour frmMain::PickColor(Colour InitialColor, const QString &Caption)
{
    frmPickColor dialog(this);
    dialog.Display(InitialColor, Caption);
    return dialog.CurrColor;
}

void frmMain::picTColor_Click()
{
    const Colour r = PickColor(TColor, QStringLiteral("Transparency Color.."));
    if (r > -1)
        SetTColor(r);
}

void frmMain::picMColor_Click()
{
    const Colour r = PickColor(MColor, QStringLiteral("Opposite Color..."));
    if (r > -1)
        SetMColor(r);
}

void frmMain::pickFromSprite(int buttons, int x, int y)
{
    // Outside the picture there is no colour to take: the last one inside stays.
    const Colour c = picSprite->pixel(x, y);
    if (c == NoColour)
        return;
    if (buttons == 1)
        SetTColor(c);
    else if (buttons == 2)
        SetMColor(c);
}

void frmMain::Browse(qint16 Mode)
{
    BrowseMode = Mode;
    frmBrowse dialog(*this);
    desktop().exec(dialog);
}

void frmMain::cmdSelFiles_Click()
{
    Browse(1);
}

void frmMain::cmdAppendFiles_Click()
{
    Browse(2);
}

void frmMain::addFiles(const QStringList &paths, bool replace)
{
    const int current = replace ? -1 : lstFiles->currentIndex();
    if (replace)
        lstFiles->clear();
    // One insertion for the lot: lists of many thousands of sprites stay quick.
    lstFiles->addItems(paths);
    lstFiles->setCurrentIndex(current);
}

void frmMain::cmdClearList_Click()
{
    if (lstFiles->count() == 0)
        return;
    if (desktop().message(this, QStringLiteral("Are you sure you want to clear the file list?"),
                          Desktop::Buttons::YesNo, Desktop::Icon::Question,
                          Desktop::Answer::Yes) != Desktop::Answer::Yes)
        return;
    lstFiles->clear();
    cmdAppendFiles->setEnabled(false);
    cmdClearList->setEnabled(false);
}

void frmMain::lstFiles_Click(int index)
{
    if (index >= 0)
        LoadPic(picSprite, lstFiles->itemText(index));
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // However the suffix box gets the focus, its whole text is selected so that typing
    // replaces it; after a mouse click, once the click has placed the cursor.
    if (watched == txtSuffix && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, txtSuffix, &QLineEdit::selectAll);
    return QMainWindow::eventFilter(watched, event);
}

QStringList frmMain::droppedFiles(const QList<QUrl> &urls, bool everyPicture) const
{
    const QString pattern = everyPicture ? pictureFilePattern() : QStringLiteral("*.bmp");
    QStringList files;
    for (const QUrl &url : urls) {
        const QFileInfo info(url.toLocalFile());
        if (info.isFile()) {
            files.append(info.absoluteFilePath());
        } else if (info.isDir()) {
            // The browse dialog's own listing: same order, same filter.
            const QDir dir(info.absoluteFilePath());
            for (const QString &name : FileList::namesIn(dir.path(), pattern))
                files.append(dir.filePath(name));
        }
    }
    return files;
}

void frmMain::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!m_running && !urls.isEmpty() &&
        std::all_of(urls.cbegin(), urls.cend(), [](const QUrl &u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event)
{
    if (m_running)
        return;
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    addFiles(droppedFiles(event->mimeData()->urls(), shift), false);
    event->acceptProposedAction();
    if (lstFiles->count() >= 1)
        LoadPic(picSprite, lstFiles->itemText(0));
    cmdClearList->setEnabled(true);
    cmdAppendFiles->setEnabled(true);
    mnuSaveSprite->setEnabled(true);
}

void frmMain::picSprite_Resize()
{
    picSprite->move(0, 0);
    picMask->move(0, 0);
    picMask->setDrawableSize(picSprite->image().size());

    if (picSprite->drawableWidth() > conSprite->drawableWidth()) {
        setScrollRange(HScrSprite, picSprite->drawableWidth() - conSprite->drawableWidth());
        setScrollRange(HScrMask, picMask->drawableWidth() - conMask->drawableWidth());
    } else {
        clearScrollRange(HScrSprite);
        clearScrollRange(HScrMask);
    }
    if (picSprite->drawableHeight() > conSprite->drawableHeight()) {
        setScrollRange(VScrSprite, picSprite->drawableHeight() - conSprite->drawableHeight());
        setScrollRange(VScrMask, picMask->drawableHeight() - conMask->drawableHeight());
    } else {
        clearScrollRange(VScrSprite);
        clearScrollRange(VScrMask);
    }
}

void frmMain::scrollPictures()
{
    // During a scan the bars move at nearly every refresh point; moving a picture scrolls
    // the window's backing store, so the pictures follow their bars once a frame instead.
    if (m_holdingScreen) {
        m_picturesBehind = true;
        return;
    }
    m_picturesBehind = false;
    picSprite->move(-HScrSprite->value(), -VScrSprite->value());
    picMask->move(-HScrMask->value(), -VScrMask->value());
}

// --- what a masking run sees of the window ---

const QImage &frmMain::spritePicture() const
{
    return picSprite->image();
}

QImage &frmMain::maskPicture()
{
    return picMask->image();
}

void frmMain::clearMask()
{
    picMask->clear();
}

void frmMain::maskPictureChanged()
{
    picMask->update();
    m_screenDue = true;
}

QSize frmMain::progressBarSize() const
{
    return picProgress->image().size();
}

void frmMain::clearProgressBar()
{
    picProgress->clear();
}

void frmMain::fillProgressBar(float right)
{
    picProgress->fillRect(QRect(0, 0, int(std::lround(right)), picProgress->image().height()),
                          0xFF0000);
}

bool frmMain::scrollFollowsScan() const
{
    return chkDoScroll->isChecked();
}

double frmMain::maskViewportWidth() const
{
    return conMask->drawableWidth();
}

int frmMain::hScrMaskMax() const
{
    return HScrMask->maximum();
}

int frmMain::hScrSpriteMax() const
{
    return HScrSprite->maximum();
}

void frmMain::setHScrMaskValue(int value)
{
    HScrMask->setValue(value);
}

void frmMain::setHScrSpriteValue(int value)
{
    HScrSprite->setValue(value);
}

void frmMain::setStatus(const QString &text)
{
    setCaption(lblStatus, text);
}

void frmMain::setCancelEnabled(bool enabled)
{
    cmdCancel->setEnabled(enabled);
}

QString frmMain::suffix() const
{
    return txtSuffix->text();
}

bool frmMain::promptOverwrite() const
{
    return chkPromptOverwrite->isChecked();
}

bool frmMain::beepAfterEachFile() const
{
    return chkBeep->isChecked();
}

bool frmMain::cheerAtEnd() const
{
    return chkCheer->isChecked();
}

bool frmMain::askOverwrite(const QString &outputName)
{
    return desktop().message(this,
                             QStringLiteral("'") + outputName +
                                 QStringLiteral("' already exists. Overwrite?"),
                             Desktop::Buttons::YesNo, Desktop::Icon::Question,
                             Desktop::Answer::Yes) == Desktop::Answer::Yes;
}

void frmMain::beep()
{
    desktop().beep();
}

void frmMain::log(const QString &text)
{
    DebugLog.Print_(text);
}

void frmMain::logError(const QString &text, const RunError &error)
{
    DebugLog.Print_(text, error);
}

void frmMain::saveLog()
{
    DebugLog.SaveHistory(QStringLiteral("debug.dat"), true);
}

QString frmMain::logPath() const
{
    return DebugLog.dataPath() + QStringLiteral("debug.dat");
}

void frmMain::offerLog()
{
    if (desktop().message(this,
                          QStringLiteral("An error has occured! Do you wish to see the debug file?"),
                          Desktop::Buttons::YesNo, Desktop::Icon::Exclamation,
                          Desktop::Answer::Yes) != Desktop::Answer::Yes)
        return;
    if (!FileExists(logPath())) {
        desktop().message(this,
                          QStringLiteral("The debug file does not exist. Please re-install Pelloran."),
                          Desktop::Buttons::Ok, Desktop::Icon::Exclamation, Desktop::Answer::Ok);
        return;
    }
    if (!desktop().openUrl(QUrl::fromLocalFile(logPath())))
        reportFailure(QStringLiteral("No text editor could be started to show '") + logPath() +
                      QStringLiteral("'."));
}

void frmMain::reportFailure(const QString &message)
{
    desktop().message(this, message, Desktop::Buttons::Ok, Desktop::Icon::Exclamation,
                      Desktop::Answer::Ok);
}

int frmMain::fileCount() const
{
    return lstFiles->count();
}

QString frmMain::fileAt(int index) const
{
    return lstFiles->itemText(index);
}

void frmMain::setFileCounter(const QString &text)
{
    setCaption(lblFileStat, text);
}

bool frmMain::loadSprite(const QString &path)
{
    return LoadPic(picSprite, path);
}

void frmMain::cheer()
{
    PlayWave(QStringLiteral("cheer.wav"), SndAsync | SndNoDefault);
}

void frmMain::flash()
{
    FlashMe();
}

void frmMain::scanStarted()
{
    m_holdingScreen = true;
    m_screenDue = false;
    m_client->setUpdatesEnabled(false);
}

void frmMain::scanEnded()
{
    m_holdingScreen = false;
    if (m_picturesBehind)
        scrollPictures();
    m_client->setUpdatesEnabled(true);
}

void frmMain::yield()
{
    // While a scan runs the window's repaints are held back between frames: each of the
    // scan's yields would otherwise repaint whatever moved, thousands of times a second.
    // A frame is painted synchronously: a deferred update request would arrive after
    // this yield, when repaints are held back again. Input is handled at every yield.
    if (m_holdingScreen && m_screenDue) {
        m_screenDue = false;
        if (m_picturesBehind) {
            m_holdingScreen = false;
            scrollPictures();
            m_holdingScreen = true;
        }
        m_client->setUpdatesEnabled(true);
        m_client->repaint();
        m_client->setUpdatesEnabled(false);
    }
    QCoreApplication::processEvents();
}
