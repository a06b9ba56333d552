// Writes the program's icon as PNG files for an installation: make_icons DIR SIZE...
// gives DIR/pelloran-SIZE.png for each size.

#include "ProgramIcon.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fputs("usage: make_icons DIR SIZE...\n", stderr);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString path =
            QString::fromLocal8Bit(argv[1]) + QStringLiteral("/pelloran-%1.png").arg(size);
        if (size <= 0 || !programIconImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
