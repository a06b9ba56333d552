#include "DialogLook.h"

#include <QGuiApplication>
#include <QScreen>

QFont courierFont(double points)
{
    QFont f(QStringLiteral("Courier New"));
    // QFont(name, int) would cut 9.75 down to 9 points.
    f.setPointSizeF(points);
    return f;
}

void setToolWindowLook(QDialog *dialog, const QSize &clientSize)
{
    dialog->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFixedSize(clientSize);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), clientSize);
        r.moveCenter(screen->availableGeometry().center());
        dialog->move(r.topLeft());
    }
}

QPushButton *dialogButton(QDialog *dialog, const char *name, const QString &text,
                          const QRect &geometry)
{
    auto *b = new QPushButton(text, dialog);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setFont(courierFont(9.75));
    return b;
}
