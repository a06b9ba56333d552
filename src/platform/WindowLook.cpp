#include "WindowLook.h"

#include <QEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

QFont courierFont(double points, bool bold, bool italic)
{
    QFont f(QStringLiteral("Courier New"));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

void centreOnScreen(QWidget *window, const QSize &size)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect avail = screen->availableGeometry();
    QRect r(QPoint(0, 0), size);
    r.moveCenter(avail.center());
    window->move(std::max(r.left(), avail.left()), std::max(r.top(), avail.top()));
}

namespace
{

class SelectAllOnFocus : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn)
            QTimer::singleShot(0, watched,
                               [edit = static_cast<QLineEdit *>(watched)] { edit->selectAll(); });
        return false;
    }
};

} // namespace

void selectAllOnFocus(QLineEdit *edit)
{
    edit->installEventFilter(new SelectAllOnFocus(edit));
}

void chainTabs(std::initializer_list<QWidget *> order)
{
    for (auto it = order.begin(); it != order.end() && it + 1 != order.end(); ++it)
        QWidget::setTabOrder(*it, *(it + 1));
}
