#pragma once

#include <QFont>
#include <QSize>

#include <initializer_list>

class QLineEdit;
class QWidget;

// The small things every window of the program does the same way.

// Courier New at a fractional size; QFont(name, int) would cut 9.75 down to 9 points.
QFont courierFont(double points, bool bold = false, bool italic = false);
// Places a window of that size in the middle of the screen that holds it, its top-left
// corner kept on the screen when the window is the larger of the two.
void centreOnScreen(QWidget *window, const QSize &size);
// However the box gets the focus, its whole text is selected so that typing replaces it;
// after a mouse click, once the click has placed the cursor.
void selectAllOnFocus(QLineEdit *edit);
// Tab moves through the widgets in the order given.
void chainTabs(std::initializer_list<QWidget *> order);
