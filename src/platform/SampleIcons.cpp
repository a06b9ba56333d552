#include "SampleIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace
{

QPixmap canvas()
{
    QPixmap p(32, 32);
    p.fill(Qt::transparent);
    return p;
}

} // namespace

QPixmap cloudIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath cloud;
    cloud.addEllipse(QRectF(3, 13, 12, 12));
    cloud.addEllipse(QRectF(9, 7, 15, 15));
    cloud.addEllipse(QRectF(18, 12, 11, 11));
    cloud.addRect(QRectF(9, 18, 15, 7));
    p.setPen(QPen(QColor(90, 100, 120), 1.5));
    p.setBrush(QColor(245, 248, 255));
    p.drawPath(cloud.simplified());
    return pm;
}

QPixmap globeIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF ball(3, 3, 26, 26);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 110, 200));
    p.drawEllipse(ball);
    p.setBrush(QColor(60, 170, 70));
    p.drawEllipse(QRectF(8, 7, 9, 7));
    p.drawEllipse(QRectF(15, 15, 10, 9));
    p.drawEllipse(QRectF(6, 18, 6, 5));
    p.setPen(QPen(QColor(20, 50, 110), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(ball);
    p.drawEllipse(QRectF(10, 3, 12, 26));
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    return pm;
}

QPixmap sunIcon()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(240, 150, 0), 2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 8; ++i) {
        const double a = i * M_PI / 4;
        p.drawLine(QPointF(16 + 10 * std::cos(a), 16 + 10 * std::sin(a)),
                   QPointF(16 + 14 * std::cos(a), 16 + 14 * std::sin(a)));
    }
    p.setPen(QPen(QColor(230, 130, 0), 1));
    p.setBrush(QColor(255, 215, 40));
    p.drawEllipse(QRectF(9, 9, 14, 14));
    return pm;
}
