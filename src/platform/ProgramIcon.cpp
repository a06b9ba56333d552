#include "ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace
{

// A 12 x 12 creature, one character a cell: '#' body, 'o' eye, '.' background.
constexpr const char *Creature[] = {
    "....####....", "..########..", ".##########.", ".###o##o###.", "############", "############",
    "####....####", "############", "##.######.##", "##.##..##.##", "#..#....#..#", "............",
};

void drawCreature(QPainter &p, const QRectF &area, const QColor &bg, const QColor &body,
                  const QColor &eye)
{
    const qreal cell = area.width() / 12.0;
    p.fillRect(area, bg);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const char c = Creature[y][x];
            if (c == '.')
                continue;
            p.fillRect(QRectF(area.left() + x * cell, area.top() + y * cell, cell, cell),
                       c == 'o' ? eye : body);
        }
}

} // namespace

QImage programIconImage(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    // The sprite above the diagonal, its mask below: what the program does, at a glance.
    QPainterPath upper;
    upper.moveTo(0, 0);
    upper.lineTo(size, 0);
    upper.lineTo(0, size);
    upper.closeSubpath();
    const QRectF area(0, 0, size, size);
    p.setClipPath(upper);
    drawCreature(p, area, QColor(255, 0, 255), QColor(40, 170, 80), QColor(255, 240, 60));
    QPainterPath lower;
    lower.moveTo(size, 0);
    lower.lineTo(size, size);
    lower.lineTo(0, size);
    lower.closeSubpath();
    p.setClipPath(lower);
    drawCreature(p, area, Qt::white, Qt::black, Qt::black);
    p.setClipping(false);
    p.setPen(QPen(QColor(60, 60, 60), qMax(1.0, size / 44.0)));
    p.drawLine(QPointF(size, 0), QPointF(0, size));
    p.setPen(QPen(QColor(30, 30, 30), qMax(1.0, size / 44.0)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    return img;
}

QIcon programIcon()
{
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 88, 128, 256})
        icon.addPixmap(QPixmap::fromImage(programIconImage(s)));
    return icon;
}
