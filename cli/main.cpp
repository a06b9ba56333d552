#include "MaskCommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelloran-mask"));
    return MaskCommand().run(QCoreApplication::arguments());
}
