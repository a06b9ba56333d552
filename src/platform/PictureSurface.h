#pragma once

#include "Colour.h"

#include <QFrame>
#include <QImage>

// A surface that shows a picture and keeps a persistent image of everything drawn on it.
//
// The persistent image is always Format_RGB32 and exactly as large as the drawable area
// (the widget without its border), so that pixel (x, y) of the image is the pixel the
// user sees at (x, y) of the drawable area. Reads outside the image give NoColour; writes
// outside it are dropped.
//
// Mouse events are reported in drawable-area coordinates with the button codes
// 1 (left), 2 (right) and 4 (middle); a move reports the set of buttons held. Moves keep
// coming while a button pressed on the surface is held, also outside it.
class PictureSurface : public QFrame
{
    Q_OBJECT
public:
    enum Border { NoBorder, SingleBorder, SunkenBorder };

    explicit PictureSurface(QWidget *parent = nullptr, Border border = NoBorder,
                            Colour backColor = White);

    // With auto-size on, a new picture resizes the surface to fit it.
    void setAutoSize(bool on) { m_autoSize = on; }
    bool autoSize() const { return m_autoSize; }

    void setPicture(const QImage &picture);
    const QImage &image() const { return m_image; }
    QImage &image() { return m_image; }

    // Places and sizes the surface. Use this rather than setGeometry(): a hidden widget
    // hears of a new size only when it is shown, and the image must follow at once.
    void place(const QRect &geometry);
    // Resizes the surface so that its drawable area has this size.
    void setDrawableSize(const QSize &size);
    double drawableWidth() const { return m_image.width(); }
    double drawableHeight() const { return m_image.height(); }

    Colour pixel(int x, int y) const;
    void setPixel(int x, int y, Colour c);

    Colour backColor() const { return m_backColor; }
    // Like clear(), a new background colour fills the whole image.
    void setBackColor(Colour c);
    void clear();
    void fillRect(const QRect &rect, Colour c);

    // Repaints the surface on screen now rather than at the next event-loop turn.
    void refresh();

    // The drawable area as a parent for child widgets, for surfaces used as a clipping
    // frame: children placed at (0, 0) sit just inside the border and are clipped by it.
    QWidget *client();

signals:
    // The drawable size has changed (not emitted when a resize keeps it).
    void sizeChanged();
    void mousePressed(int button, int x, int y);
    void mouseMoved(int buttons, int x, int y);
    void mouseReleased(int button, int x, int y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint drawablePos(const QPointF &widgetPos) const;
    // Brings the image and the client area to the widget's current size.
    void syncToSize();

    QImage m_image;
    QSize m_reportedSize;
    Colour m_backColor;
    bool m_autoSize = false;
    QWidget *m_client = nullptr;
};
