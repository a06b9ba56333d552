#include "frmMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelloran"));
    QApplication::setOrganizationName(QStringLiteral("Pelloran"));

    frmMain window;
    window.Form_Load();
    window.show();
    return app.exec();
}
