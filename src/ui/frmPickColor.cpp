#include "frmPickColor.h"

#include "Desktop.h"
#include "DialogLook.h"
#include "PictureIO.h"
#include "PictureSurface.h"
#include "Rounding.h"
#include "RunError.h"
#include "SampleIcons.h"
#include "modMain.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

namespace
{

// The extent the palette's scroll ranges are measured against. The viewport shows 141 x 101
// pixels; its height counts as 103, as the palette's layout has always done it.
constexpr int ViewportWidth = 141;
constexpr int ViewportHeight = 103;

void layoutBar(QScrollBar *bar, int picture, int viewport)
{
    if (picture > viewport) {
        bar->setMaximum(picture - viewport);
        bar->setMinimum(0);
        bar->setSingleStep(std::max(1, roundHalfEven(bar->maximum() / 8.0)));
        bar->setPageStep(std::max(1, roundHalfEven(bar->maximum() / 4.0)));
        bar->setEnabled(true);
    } else {
        bar->setMaximum(0);
        bar->setMinimum(0);
        bar->setEnabled(false);
    }
}

} // namespace

QImage frmPickColor::builtInPalette()
{
    static const quint32 swatches[6][8] = {
        {0xFFFFFF, 0xFFC0C0, 0xFFE0C0, 0xFFFFC0, 0xC0FFC0, 0xC0FFFF, 0xC0C0FF, 0xFFC0FF},
        {0xE0E0E0, 0xFF8080, 0xFFC080, 0xFFFF80, 0x80FF80, 0x80FFFF, 0x8080FF, 0xFF80FF},
        {0xC0C0C0, 0xFF0000, 0xFF8000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF, 0xFF00FF},
        {0x808080, 0xC00000, 0xC04000, 0xC0C000, 0x00C000, 0x00C0C0, 0x0000C0, 0xC000C0},
        {0x404040, 0x800000, 0x804000, 0x808000, 0x008000, 0x008080, 0x000080, 0x800080},
        {0x000000, 0x400000, 0x804040, 0x404000, 0x004000, 0x004040, 0x000040, 0x400040},
    };
    QImage img(137, 103, QImage::Format_RGB32);
    img.fill(0xFF000000);
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 8; ++c) // written as red, green, blue: QRgb's own order
            for (int y = 0; y < 14; ++y)
                for (int x = 0; x < 14; ++x)
                    img.setPixel(2 + 17 * c + x, 2 + 17 * r + y, 0xFF000000 | swatches[r][c]);
    return img;
}

frmPickColor::frmPickColor(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmPickColor"));
    setWindowTitle(QStringLiteral("Pick Color..."));
    setToolWindowLook(this, QSize(393, 177));

    conPalette = new PictureSurface(this, PictureSurface::SunkenBorder, 0x808080);
    conPalette->setObjectName(QStringLiteral("conPalette"));
    conPalette->place(QRect(8, 8, 145, 105));
    picPalette = new PictureSurface(conPalette->client(), PictureSurface::NoBorder, 0x808080);
    picPalette->setObjectName(QStringLiteral("picPalette"));
    picPalette->setAutoSize(true);
    picPalette->place(QRect(0, 0, 32, 32));
    picPalette->setCursor(Qt::CrossCursor);
    picPalette->setFocusPolicy(Qt::ClickFocus);

    auto bar = [this](const char *name, Qt::Orientation o, const QRect &g) {
        auto *b = new QScrollBar(o, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(g);
        b->setRange(0, 0);
        b->setTracking(false);
        return b;
    };
    VScrPalette = bar("VScrPalette", Qt::Vertical, QRect(152, 8, 17, 105));
    HScrPalette = bar("HScrPalette", Qt::Horizontal, QRect(8, 112, 145, 17));
    const char *names[3] = {"Red:", "Green:", "Blue:"};
    for (int i = 0; i < 3; ++i) {
        Label1[i] = new QLabel(QLatin1String(names[i]), this);
        Label1[i]->setObjectName(QStringLiteral("Label1(%1)").arg(i));
        Label1[i]->move(176, 8 + 24 * i);
        Label1[i]->resize(Label1[i]->sizeHint());
        scrRGB[i] = bar("scrRGB", Qt::Horizontal, QRect(216, 8 + 24 * i, 169, 17));
        scrRGB[i]->setObjectName(QStringLiteral("scrRGB(%1)").arg(i));
        scrRGB[i]->setRange(0, 255);
        scrRGB[i]->setSingleStep(1);
        scrRGB[i]->setPageStep(5);
        connect(scrRGB[i], &QScrollBar::valueChanged, this, &frmPickColor::scrRGB_Change);
    }
    picColor = new PictureSurface(this, PictureSurface::SunkenBorder, Black);
    picColor->setObjectName(QStringLiteral("picColor"));
    picColor->place(QRect(176, 80, 209, 41));
    const QPixmap icons[3] = {cloudIcon(), globeIcon(), sunIcon()};
    for (int i = 0; i < 3; ++i) {
        imgPreview[i] = new QLabel(picColor->client());
        imgPreview[i]->setObjectName(QStringLiteral("imgPreview(%1)").arg(i));
        imgPreview[i]->setGeometry(QList<int>{36, 88, 144}[i], 0, 32, 32);
        imgPreview[i]->setPixmap(icons[i]);
    }
    lblRGB = new QLabel(QStringLiteral("(000, 000, 000)"), this);
    lblRGB->setObjectName(QStringLiteral("lblRGB"));
    lblRGB->setGeometry(176, 120, 120, 16);
    lblRGB->setFont(courierFont(9.75));
    cmdOk = dialogButton(this, "cmdOk", QStringLiteral("&Ok"), QRect(8, 144, 97, 25));
    cmdOk->setDefault(true);
    cmdCancel = dialogButton(this, "cmdCancel", QStringLiteral("&Cancel"), QRect(112, 144, 97, 25));
    chainTabs({cmdOk, cmdCancel});
    cmdOk->setFocus();

    connect(picPalette, &PictureSurface::sizeChanged, this, &frmPickColor::picPalette_Resize);
    connect(HScrPalette, &QScrollBar::valueChanged, this, [this](int v) {
        picPalette->move(-v, picPalette->y());
        focusPalette();
    });
    connect(VScrPalette, &QScrollBar::valueChanged, this, [this](int v) {
        picPalette->move(picPalette->x(), -v);
        focusPalette();
    });
    connect(picPalette, &PictureSurface::mousePressed, this, [this](int b, int x, int y) {
        if (b >= 0 && b <= 3) {
            m_buttonDown[b] = true;
            picPalette_MouseMove(x, y);
        }
    });
    connect(picPalette, &PictureSurface::mouseMoved, this,
            [this](int, int x, int y) { picPalette_MouseMove(x, y); });
    connect(picPalette, &PictureSurface::mouseReleased, this, [this](int b, int, int) {
        if (b >= 0 && b <= 3)
            m_buttonDown[b] = false;
    });
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        CurrColor = NoColour;
        reject();
    });

    LoadPalette(true);
    m_buttonDown.fill(false);
}

void frmPickColor::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        cmdCancel->click();
    else
        QDialog::keyPressEvent(event);
}

void frmPickColor::closeEvent(QCloseEvent *event)
{
    event->accept();
    done(QDialog::Accepted);
}

void frmPickColor::Display(Colour InitialColor, const QString &Caption)
{
    SetColor(InitialColor);
    setWindowTitle(Caption);
    desktop().exec(*this);
}

void frmPickColor::LoadPalette(bool LoadFromFile)
{
    if (!LoadFromFile) {
        picPalette->setPicture(builtInPalette());
        return;
    }
    const QString path = AppPath + QStringLiteral("palette.bmp");
    if (!QFileInfo::exists(path)) {
        LoadPalette(false);
        return;
    }
    try {
        picPalette->setPicture(readPicture(path));
    } catch (const RunError &) {
        // A damaged palette leaves the area empty; the bars still choose colours.
    }
}

void frmPickColor::picPalette_Resize()
{
    picPalette->move(0, 0);
    layoutBar(HScrPalette, int(picPalette->drawableWidth()), ViewportWidth);
    layoutBar(VScrPalette, int(picPalette->drawableHeight()), ViewportHeight);
}

void frmPickColor::picPalette_MouseMove(int x, int y)
{
    if (m_buttonDown[1])
        SetColor(picPalette->pixel(x, y));
}

void frmPickColor::SetColor(Colour clr)
{
    CurrColor = clr < 0 ? 0 : clr;
    std::array<qint16, 3> rgb{};
    for (int i = 0; i < 3; ++i)
        rgb[i] = qint16(scrRGB[i]->value());
    ColorToRGB(rgb[0], rgb[1], rgb[2], CurrColor);
    // A bar that really moves recomputes the colour from all three bars at once.
    for (int i = 0; i < 3; ++i)
        scrRGB[i]->setValue(rgb[i]);
}

void frmPickColor::scrRGB_Change()
{
    const int r = scrRGB[0]->value(), g = scrRGB[1]->value(), b = scrRGB[2]->value();
    CurrColor = r + 256 * g + 65536 * b;
    picColor->setBackColor(CurrColor);
    lblRGB->setText(QStringLiteral("(%1, %2, %3)").arg(r).arg(g).arg(b));
    focusPalette();
}

void frmPickColor::focusPalette()
{
    if (picPalette->isVisible())
        picPalette->setFocus();
}
