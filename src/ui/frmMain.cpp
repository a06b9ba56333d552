#include "frmMain.h"

#include "Desktop.h"
#include "LinkLabel.h"
#include "PictureSurface.h"
#include "ProgramIcon.h"
#include "Settings.h"
#include "WindowLook.h"
#include "frmAbout.h"
#include "modHyperLink.h"
#include "modMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>

#include <algorithm>

namespace
{

constexpr int ClientWidth = 761;
constexpr int ClientHeight = 617;

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

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent), m_pacer({[this](const RunView &view) { applyRunView(view); },
                                    [this] { paintNow(); }, [this] { scrollPictures(); }})
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFixedSize(ClientWidth, ClientHeight);
    m_client->setFont(courierFont(9.75));
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
    centreOnScreen(this, size());
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
    lblTitle->setFont(courierFont(15.75, true, true));
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
    cmdAppendFiles = button("cmdAppendFiles", 312, 136, 129, 17, QStringLiteral("&Append Files.."));
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
        l->setFont(courierFont(8.25));
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
    selectAllOnFocus(txtSuffix);

    lblFileStat = label("lblFileStat", 8, 576, 88, 16, QStringLiteral("File 0 of 0"));
    lblStatus = label("lblStatus", 144, 576, 104, 16, QStringLiteral("Status: Ready"));
    picProgress =
        named(new PictureSurface(c, PictureSurface::SunkenBorder, faceColour()), "picProgress");
    picProgress->place(QRect(8, 592, 745, 17));

    // Left-aligned labels size themselves to their text; the two right-aligned ones keep
    // their right edge where it was designed.
    for (QLabel *l :
         std::initializer_list<QLabel *>{lblTitle, lblVer, lblWebsite, Label1[0], Label1[4],
                                         Label1[1], Label1[2], lblFileStat, lblStatus})
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
    auto check = [&](QMenu *menu, const char *name, const QString &text, const QKeySequence &key,
                     bool checked) {
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
    chkPromptOverwrite =
        check(mnuOptions, "chkPromptOverwrite", QStringLiteral("&Prompt Overwrite"),
              QKeySequence(Qt::CTRL | Qt::Key_P), false);
    chkBeep = check(mnuOptions, "chkBeep", QStringLiteral("&Beep when a file is finished"),
                    QKeySequence(Qt::CTRL | Qt::Key_B), true);
    chkCheer = check(mnuOptions, "chkCheer", QStringLiteral("&Cheer when all files are finished"),
                     QKeySequence(Qt::CTRL | Qt::Key_C), true);
    chkDoScroll = check(mnuOptions, "chkDoScroll", QStringLiteral("&Increment the scrollbars"),
                        QKeySequence(Qt::CTRL | Qt::Key_I), true);

    mnuHelp = named(menuBar()->addMenu(QStringLiteral("&Help")), "mnuHelp");
    mnuMainHelp =
        action(mnuHelp, "mnuMainHelp", QStringLiteral("How To Use"), QKeySequence(Qt::Key_F1));
    sep1 = named(mnuHelp->addSeparator(), "sep1");
    mnuAbout =
        action(mnuHelp, "mnuAbout", QStringLiteral("About.."), QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(mnuMainHelp, &QAction::triggered, this, [this] {
        if (!m_running)
            openHelp(this);
    });
    connect(mnuAbout, &QAction::triggered, this, [this] {
        if (m_running)
            return;
        frmAbout about(this);
        desktop().exec(about);
    });

    // The window's control order; the lock and the settings walk this list.
    const QString d = QStringLiteral("<d>"), s = QStringLiteral("<s>"), none;
    m_tagged = {
        {picMColor, d},      {txtSuffix, d + s},
        {cmdMaskAll, d},     {picTColor, d},
        {cmdMaskCurr, d},    {cmdClearList, d},
        {cmdAppendFiles, d}, {picMask, d},
        {picSprite, d},      {cmdSelFiles, d},
        {lstFiles, d},       {cmdCancel, none},
        {Image1, none},      {lblTitle, none},
        {lblVer, none},      {lblWebsite, none},
        {Label1[0], none},   {Label1[1], none},
        {Label1[2], none},   {Label1[3], none},
        {Label1[4], none},   {Label1[5], none},
        {conSprite, none},   {conMask, none},
        {HScrSprite, none},  {VScrSprite, none},
        {HScrMask, none},    {VScrMask, none},
        {lblFileStat, none}, {lblStatus, none},
        {picProgress, none}, {mnuFile, none},
        {mnuSaveSprite, d},  {mnuSaveMask, d},
        {sep2, none},        {mnuQuit, none},
        {mnuOptions, none},  {chkPromptOverwrite, s},
        {chkBeep, s},        {chkCheer, s},
        {chkDoScroll, s},    {mnuHelp, d},
        {mnuMainHelp, none}, {sep1, none},
        {mnuAbout, none},
    };
    for (const TaggedControl &t : m_tagged)
        t.control->setProperty("tag", t.tag);
}

void frmMain::setTabOrder()
{
    chainTabs({cmdSelFiles, cmdAppendFiles, cmdClearList, cmdMaskCurr, cmdMaskAll, cmdCancel,
               lstFiles, txtSuffix, HScrSprite, HScrMask, VScrSprite, VScrMask});
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

namespace
{

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
    txtSuffix->setText(
        GetSetting(SettingsSection, txtSuffix->objectName(), QStringLiteral("_mask")));
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
    bool quit;
    {
        const auto released = m_pacer.release();
        quit = QuitApp(this, txtSuffix->text(), chkPromptOverwrite->isChecked());
    }
    if (quit)
        event->accept();
    else
        event->ignore();
}

void frmMain::endSession()
{
    SaveSettings();
    Terminate(this, txtSuffix->text(), chkPromptOverwrite->isChecked());
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
