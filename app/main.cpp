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
#include <cstdlib>

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

bool isSet(const char *name)
{
    return !qEnvironmentVariableIsEmpty(name);
}

// Why none of the platforms Qt is asked for (-platform, else QT_QPA_PLATFORM, else its own
// choice of X11 or Wayland) has a display to open, or nothing when one may. Qt itself aborts
// without one, telling the user to reinstall. Platforms other than X11 and Wayland
// (offscreen, minimal, vnc) are left to Qt.
QByteArray missingDisplay(int argc, char *argv[])
{
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc && QByteArray(argv[i]) != "--"; ++i)
        if (QByteArray(argv[i]) == "-platform")
            platforms = argv[i + 1];
    if (platforms.isEmpty())
        return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")
                   ? QByteArray()
                   : QByteArrayLiteral("DISPLAY and WAYLAND_DISPLAY are not set");
    for (const QByteArray &entry : platforms.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed();
        if (name == "xcb"                ? isSet("DISPLAY")
            : name.startsWith("wayland") ? isSet("WAYLAND_DISPLAY")
                                         : true)
            return {};
    }
    return "no display for the platform " + platforms;
}

const char NoDisplay[] = "pelloran: no graphical display to open the window on";

// Qt's messages while it starts its platform are held back: when no platform starts, the user
// gets one line saying so, with the reason Qt gave (the display it could not reach), rather
// than Qt's advice to reinstall.
QtMessageHandler qtHandler = nullptr;
QList<std::pair<QtMsgType, QString>> heldMessages;
void holdStartMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtFatalMsg) {
        heldMessages.append({type, text});
        return;
    }
    QString reason;
    for (const auto &[held, message] : std::as_const(heldMessages))
        if (reason.isEmpty() && message.contains(QStringLiteral("display")))
            reason = message;
    std::fprintf(stderr, "%s%s%s\n", NoDisplay, reason.isEmpty() ? "" : ": ", qPrintable(reason));
    std::fflush(stderr);
    std::_Exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int code = answerWithoutWindow(argc, argv); code >= 0)
        return code;

    if (const QByteArray missing = missingDisplay(argc, argv); !missing.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", NoDisplay, missing.constData());
        return 2;
    }

    // Logged before anything else exists, the paths included.
    DebugLog.Print_(QStringLiteral("Applet started..."));

    qtHandler = qInstallMessageHandler(holdStartMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const auto &[type, message] : std::as_const(heldMessages))
        qtHandler(type, QMessageLogContext(), message);
    // Ties the window to its desktop entry: the Wayland app id, and the entry a desktop shows
    // for it (on X11 the entry's StartupWMClass matches the window's class, Pelloran).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.pelloran.Pelloran"));
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
