// The real window on a real X server (an Xvfb of its own): what a user sees during a run.
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestSupport.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace
{

// A grab of the screen area of one widget, taken by another process while the run goes on.
QImage grab(const QRect &area, const QString &path)
{
    const QString cmd =
        QString::asprintf("import -window root -crop %dx%d+%d+%d +repage png:%s", area.width(),
                          area.height(), area.x(), area.y(), path.toLocal8Bit().constData());
    if (std::system(cmd.toLocal8Bit().constData()) != 0)
        return {};
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestXWindow : public QObject
{
    Q_OBJECT
private slots:
    void drawnThroughoutARun_data();
    void drawnThroughoutARun();
};

void TestXWindow::drawnThroughoutARun_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<int>("files");
    QTest::newRow("many small sprites") << QSize(200, 150) << 300;
    QTest::newRow("big sprites") << QSize(3000, 2000) << 20;
}

// Every grab during the run shows the labels, the buttons, the status line's and the file
// counter's first words and the progress bar's frame as a grab at rest shows them.
void TestXWindow::drawnThroughoutARun()
{
    QFETCH(QSize, sprite);
    QFETCH(int, files);
    Sandbox box;
    ScriptedDesktop desk;
    writeBmp(randomSprite(sprite.width(), sprite.height(), Black, 5), box.file("s.bmp"));
    frmMain w;
    w.Form_Load();
    control<QAction>(w, "chkPromptOverwrite")->setChecked(false);
    w.addFiles(QStringList(files, box.file("s.bmp")), true);
    QCursor::setPos(0, 0);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w, 120000));
    if (QWidget *f = QApplication::focusWidget())
        f->clearFocus(); // the lock would move the focus, and its frame, about

    QWidget *client = w.centralWidget();
    const QRect screenArea(client->mapToGlobal(QPoint(0, 0)), client->size());
    // Each area: a control, its width and height (-1 its own).
    const QFontMetrics fm(client->font());
    QList<std::tuple<const char *, int, int>> named{
        {"lblStatus", fm.horizontalAdvance("Status: "), -1},
        {"lblFileStat", fm.horizontalAdvance("File "), -1},
        {"picProgress", -1, 2}, // the bar's frame
        {"picProgress", 2, -1}};
    for (const char *name :
         {"lblTitle", "lblVer", "lblWebsite", "Label1(0)", "Label1(1)", "Label1(2)", "Label1(3)",
          "Label1(4)", "Label1(5)", "cmdSelFiles", "cmdAppendFiles", "cmdClearList", "cmdMaskCurr",
          "cmdMaskAll", "cmdCancel"})
        named.append({name, -1, -1});
    QList<QPair<QString, QRect>> areas;
    for (const auto &[name, width, height] : named) {
        const QWidget *c = w.findChild<QWidget *>(QLatin1String(name));
        QVERIFY2(c, qPrintable(QStringLiteral("no control ") + name));
        areas.append({name, QRect(c->mapTo(client, QPoint(0, 0)),
                                  QSize(width < 0 ? c->width() : width,
                                        height < 0 ? c->height() : height))});
    }
    auto *maskAll = control<QPushButton>(w, "cmdMaskAll");
    auto *cancel = control<QPushButton>(w, "cmdCancel");

    // At rest, locked as during a run.
    cancel->setEnabled(true);
    w.ControlsEnabled(false);
    w.repaint();
    QTest::qWait(200);
    const QImage rest = grab(screenArea, box.file("rest.png"));
    QVERIFY(!rest.isNull());
    w.ControlsEnabled(true);
    cancel->setEnabled(false);

    // Grabs come from another thread while the window's thread is inside the run. A frame is
    // held back up to a repaint interval, so a run counts as on screen from the first yield
    // after a frame painted it locked (the frame is out of the window by then) until the
    // window paints Mask All unlocked again (before that frame leaves). A grab that did not
    // begin and end within one such stretch is taken again. Runs are repeated until enough
    // grabs are in, then cancelled.
    constexpr int Wanted = 4;
    std::atomic<int> onScreen{0}; // odd while a locked run is on screen
    std::atomic<bool> stop{false};
    bool lockedFrame = false;
    PaintWatch watch;
    watch.onPaint = [&](QWidget *button) {
        lockedFrame = !button->isEnabled();
        if (!lockedFrame && onScreen % 2 == 1)
            ++onScreen;
    };
    maskAll->installEventFilter(&watch);
    QList<QImage> grabs;
    std::thread grabber([&] {
        for (int n = 0; grabs.size() < Wanted && !stop;) {
            const int before = onScreen;
            if (before % 2 == 0) {
                usleep(5000);
                continue;
            }
            QImage g = grab(screenArea, box.file(QStringLiteral("run%1.png").arg(n++)));
            if (onScreen == before && !g.isNull())
                grabs.append(g);
        }
        stop = true;
    });
    QTimer yields; // fires at the run's yields
    connect(&yields, &QTimer::timeout, &w, [&] {
        if (lockedFrame && onScreen % 2 == 0)
            ++onScreen;
        if (stop && cancel->isEnabled())
            cancel->click();
    });
    yields.start(10);
    for (int i = 0; i < 100 && !stop; ++i) {
        lockedFrame = false;
        maskAll->click();
        QCoreApplication::processEvents();
    }
    stop = true;
    grabber.join();
    QCOMPARE(grabs.size(), Wanted);

    for (int i = 0; i < grabs.size(); ++i)
        for (const auto &[name, r] : std::as_const(areas))
            QVERIFY2(
                grabs[i].copy(r) == rest.copy(r),
                qPrintable(QStringLiteral("grab %1: %2 is not drawn as at rest").arg(i).arg(name)));
}

// The test brings its own X server, on a display number the server picks itself.
int main(int argc, char *argv[])
{
    int fds[2];
    if (pipe(fds) != 0)
        return 2;
    const pid_t server = fork();
    if (server == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // also when the test ends abnormally
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", "-dpi", "96", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The server writes its number and a newline once it is ready, in as many pieces as it
    // likes: read up to the newline.
    char number[16] = {};
    for (size_t n = 0;
         n < sizeof number - 1 && read(fds[0], number + n, 1) == 1 && number[n] != '\n'; ++n) {
    }
    close(fds[0]);
    number[strcspn(number, "\n")] = '\0';
    if (number[0] < '0' || number[0] > '9')
        return fprintf(stderr, "Xvfb did not start\n"), 2;
    setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int status;
    {
        QApplication app(argc, argv);
        TestXWindow test;
        status = QTest::qExec(&test, argc, argv);
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return status;
}

#include "tst_xwindow.moc"
