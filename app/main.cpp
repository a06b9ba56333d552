#include "Desktop.h"
#include "EndSignals.h"
#include "Version.h"
#include "frmMain.h"
#include "modMain.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSessionManager>
#include <QTextStream>

#include <cstdio>

namespace
{

// Answered before anything of the desktop is touched, so that they work on a terminal with no
// display at all. Returns the exit code, or -1 to go on and open the window.
int answerWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--")
            break; // the rest are files, whatever their names
        if (a == "--version" || a == "-v") {
            std::printf("pelloran %d.%d.%d\n", ProgramVersion.major, ProgramVersion.minor,
                        ProgramVersion.revision);
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::printf("Usage: pelloran [--] [FILE...]\n"
                        "Opens the sprite masking window with FILEs (pictures, or folders of "
                        "them) in its list.\n\n"
                        "  -h, --help     Show this help.\n"
                        "  -v, --version  Show the version.\n\n"
                        "Masks from a terminal or a script: pelloran-mask --help\n");
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int code = answerWithoutWindow(argc, argv); code >= 0)
        return code;

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
        if (i > 1 || QByteArray(argv[i]) != "--")
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
