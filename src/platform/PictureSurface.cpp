#include "PictureSurface.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace
{

int buttonCode(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

int buttonCodes(Qt::MouseButtons bs)
{
    return (bs & Qt::LeftButton ? 1 : 0) | (bs & Qt::RightButton ? 2 : 0) |
           (bs & Qt::MiddleButton ? 4 : 0);
}

} // namespace

PictureSurface::PictureSurface(QWidget *parent, Border border, Colour backColor)
    : QFrame(parent), m_backColor(backColor)
{
    switch (border) {
    case NoBorder: setFrameStyle(QFrame::NoFrame); break;
    case SingleBorder:
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        break;
    case SunkenBorder:
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
        break;
    }
    setMouseTracking(true);
    // The surface paints every pixel of its drawable area itself.
    setAttribute(Qt::WA_OpaquePaintEvent, border == NoBorder);
    m_reportedSize = contentsRect().size().expandedTo(QSize(0, 0));
    m_image = QImage(m_reportedSize, QImage::Format_RGB32);
    m_image.fill(toQRgb(m_backColor));
}

void PictureSurface::setPicture(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    if (m_autoSize) {
        const int frame = 2 * frameWidth();
        m_image = rgb;
        // resizeEvent keeps the image when the size already matches it.
        resize(rgb.width() + frame, rgb.height() + frame);
        syncToSize();
    } else {
        m_image.fill(toQRgb(m_backColor));
        QPainter(&m_image).drawImage(0, 0, rgb);
    }
    update();
}

void PictureSurface::place(const QRect &geometry)
{
    setGeometry(geometry);
    syncToSize();
}

void PictureSurface::setDrawableSize(const QSize &size)
{
    const int frame = 2 * frameWidth();
    resize(size.width() + frame, size.height() + frame);
    syncToSize();
}

void PictureSurface::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    syncToSize();
}

void PictureSurface::syncToSize()
{
    const QSize drawable = contentsRect().size().expandedTo(QSize(0, 0));
    if (m_client)
        m_client->setGeometry(contentsRect());
    if (drawable != m_image.size()) {
        QImage resized(drawable, QImage::Format_RGB32);
        resized.fill(toQRgb(m_backColor));
        QPainter(&resized).drawImage(0, 0, m_image);
        m_image = resized;
    }
    if (drawable != m_reportedSize) {
        m_reportedSize = drawable;
        emit sizeChanged();
    }
}

Colour PictureSurface::pixel(int x, int y) const
{
    if (!m_image.valid(x, y))
        return NoColour;
    return fromQRgb(m_image.pixel(x, y));
}

void PictureSurface::setPixel(int x, int y, Colour c)
{
    if (!m_image.valid(x, y))
        return;
    m_image.setPixel(x, y, toQRgb(c));
    update(QRect(contentsRect().topLeft() + QPoint(x, y), QSize(1, 1)));
}

void PictureSurface::setBackColor(Colour c)
{
    m_backColor = c;
    clear();
}

void PictureSurface::clear()
{
    m_image.fill(toQRgb(m_backColor));
    update();
}

void PictureSurface::fillRect(const QRect &rect, Colour c)
{
    const QRect r = rect.intersected(m_image.rect());
    if (r.isEmpty())
        return;
    const QRgb v = toQRgb(c);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(m_image.scanLine(y));
        std::fill(line + r.left(), line + r.right() + 1, v);
    }
    update(r.translated(contentsRect().topLeft()));
}

void PictureSurface::refresh()
{
    repaint();
}

QWidget *PictureSurface::client()
{
    if (!m_client) {
        m_client = new QWidget(this);
        m_client->setGeometry(contentsRect());
    }
    return m_client;
}

void PictureSurface::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const QRect inner = contentsRect();
    const QRect target = event->rect().intersected(inner);
    if (!target.isEmpty())
        p.drawImage(target, m_image, target.translated(-inner.topLeft()));
    if (frameStyle() != QFrame::NoFrame)
        drawFrame(&p);
}

QPoint PictureSurface::drawablePos(const QPointF &widgetPos) const
{
    const QPoint origin = contentsRect().topLeft();
    return QPoint(int(std::floor(widgetPos.x())) - origin.x(),
                  int(std::floor(widgetPos.y())) - origin.y());
}

void PictureSurface::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = drawablePos(event->position());
    emit mousePressed(buttonCode(event->button()), p.x(), p.y());
}

void PictureSurface::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = drawablePos(event->position());
    emit mouseMoved(buttonCodes(event->buttons()), p.x(), p.y());
}

void PictureSurface::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = drawablePos(event->position());
    emit mouseReleased(buttonCode(event->button()), p.x(), p.y());
}
