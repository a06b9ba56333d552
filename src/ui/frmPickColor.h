#pragma once

#include "Colour.h"

#include <QDialog>

#include <array>

class PictureSurface;
class QLabel;
class QPushButton;
class QScrollBar;

// Chooses a colour from a palette picture (press and drag with the left button) or with
// red, green and blue bars. CurrColor is the result: the colour shown, or -1 after Cancel.
class frmPickColor : public QDialog
{
    Q_OBJECT
public:
    explicit frmPickColor(QWidget *parent = nullptr);

    Colour CurrColor = 0;

    // Shows the colour, titles the window and runs it modally.
    void Display(Colour InitialColor, const QString &Caption);
    void SetColor(Colour clr);
    // The palette: palette.bmp beside the program when it exists, else the built-in one.
    void LoadPalette(bool LoadFromFile = false);
    // The built-in palette: 48 swatches on black, 137 x 103 pixels.
    static QImage builtInPalette();

    PictureSurface *conPalette, *picPalette, *picColor;
    QScrollBar *VScrPalette, *HScrPalette;
    std::array<QLabel *, 3> Label1{};
    std::array<QScrollBar *, 3> scrRGB{};
    std::array<QLabel *, 3> imgPreview{};
    QLabel *lblRGB;
    QPushButton *cmdOk, *cmdCancel;

protected:
    // Esc is Cancel; the close box keeps the colour shown, like Ok.
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void picPalette_Resize();
    void picPalette_MouseMove(int x, int y);
    void scrRGB_Change();
    void focusPalette();

    std::array<bool, 4> m_buttonDown{};
};
