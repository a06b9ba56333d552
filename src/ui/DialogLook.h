#pragma once

#include <QDialog>
#include <QPushButton>

// The look the file dialogs share: a fixed-size tool window with a close box only, no task
// bar entry, opened in the middle of the screen, buttons in Courier New.
void setToolWindowLook(QDialog *dialog, const QSize &clientSize);
QPushButton *dialogButton(QDialog *dialog, const char *name, const QString &text,
                          const QRect &geometry);
QFont courierFont(double points);
