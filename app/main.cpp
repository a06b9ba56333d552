#include "Desktop.h"
#include "EndSignals.h"
#include "frmMain.h"
#include "modMain.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSessionManager>
#include <QTextStream>

int main(int argc, char *argv[])
{
    // Logged before anything else exists, the paths included.
    DebugLog.Print_(QStringLiteral("Applet started..."));

    QApplication app(argc, argv);
    QApplication::setApplicationName(ProductTitle);
    QApplication::setOrganizationName(ProductTitle);
    SetPaths();

    frmMain window;
    window.Form_Load();
    // Files handed over by a file manager or typed after the program's name.
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files.append(QFile::decodeName(argv[i]));
    window.openFiles(files);
    window.show();

    // Ended by a signal (a logout, a shutdown, Ctrl+C): as the session ending, no question.
    const EndSignals endSignals;
    QObject::connect(&endSignals, &EndSignals::received, &window, &frmMain::endSession);

    // The desktop session ending is one more close request, with the same question.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &manager) {
                         if (!manager.allowsInteraction())
                             window.SaveSettings(); // no question can be asked now
                         else if (!window.close())
                             manager.cancel();
                     });
    // The process ends only through the window's close request, which ends it itself.
    QApplication::setQuitOnLastWindowClosed(false);

    // For checking an installation without a desktop: say what the window found, and end.
    if (qEnvironmentVariableIsSet("PELLORAN_REPORT_AND_QUIT")) {
        const auto found = [](const QString &path) {
            return path + (QFileInfo(path).isFile() ? QStringLiteral(" (found)")
                                                    : QStringLiteral(" (missing)"));
        };
        QTextStream(stdout) << "title: " << window.windowTitle() << '\n'
                            << "sound: " << found(AppPath + QStringLiteral("snd/cheer.wav")) << '\n'
                            << "help: " << found(AppPath + QStringLiteral("readme.txt")) << '\n'
                            << "log: " << DataPath << Qt::endl;
        return 0;
    }
    return app.exec();
}
