// The real window on a real X server (an Xvfb of its own): what a user sees during a run.
#include "MaskRun.h"
#include "PictureIO.h"
#include "ReferenceMask.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
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

// One busy process per core beside the window for as long as it lives, as a build or a game
// would keep the machine: frames then come at other moments than on an idle machine.
struct BusyMachine {
    QList<pid_t> pids;
    BusyMachine()
    {
        for (int i = 0; i < std::max(2, QThread::idealThreadCount()); ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                static volatile int spin;
                for (;;)
                    spin = 0;
            }
            pids.append(pid);
        }
    }
    ~BusyMachine()
    {
        for (pid_t pid : std::as_const(pids))
            kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
};

// A sprite whose columns say where they are: in rows 0 to 15 a column holds its x in binary
// (black for a one, green for a zero), so a pane's columns can be read off the screen, the
// sprite's as its own colours and the mask's as red and black (white where the scan has not
// been yet).
QImage codedSprite(int width, int height)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = y < 16 ? ((x >> y) & 1 ? 0xFF000000u : 0xFF00FF00u)
                            : ((x / 8 + y / 8) % 2 ? 0xFF000000u : 0xFF0000FFu);
    }
    return img;
}

// The x each column of a pane holds according to its first 16 rows, -1 where the column is
// not coded (the mask's white, not masked yet).
QList<int> columnsOf(const QImage &pane, QRgb one, QRgb zero)
{
    QList<int> xs;
    for (int c = 0; c < pane.width(); ++c) {
        int x = 0;
        for (int y = 0; y < 16 && x >= 0; ++y) {
            const QRgb p = pane.pixel(c, y) & 0xFFFFFF;
            x = p == (one & 0xFFFFFF) ? x | (1 << y) : p == (zero & 0xFFFFFF) ? x : -1;
        }
        xs.append(x);
    }
    return xs;
}

QRect onScreen(const QWidget *w, const QRect &r)
{
    return QRect(w->mapToGlobal(r.topLeft()), r.size());
}

QImage grabScreen(const QRect &r)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Where a text's ink is, for comparing a line on screen with the same line drawn here.
QImage ink(const QImage &img, int width)
{
    QImage out(width, img.height(), QImage::Format_Mono);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < width; ++x)
            out.setPixel(x, y, x < img.width() && qGray(img.pixel(x, y)) < 128);
    return out;
}

} // namespace

class TestXWindow : public QObject
{
    Q_OBJECT
private slots:
    void drawnThroughoutARun_data();
    void drawnThroughoutARun();
    void everyFrameIsOneMoment_data();
    void everyFrameIsOneMoment();
    void cancelBetweenFilesNamesAFileWithoutMask();
    void errorStatusFitsTheWindow();
};

void TestXWindow::drawnThroughoutARun_data()
{
    QTest::addColumn<QSize>("sprite");
    QTest::addColumn<int>("files");
    QTest::newRow("many small sprites") << QSize(200, 150) << 300;
    // Each file ends with its Ready text painted, unlocked, before its mask is written: a
    // scan must last longer than a grab for a grab to fall within one.
    QTest::newRow("big sprites") << QSize(6000, 4000) << 20;
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

// Frames taken from the screen while Mask All runs over large sprites on a busy machine: the
// mask pane shows every column the scan has passed and none it has not, and the status line
// says the percent the bar shows. The grabs are taken at the run's yields, with the window's
// thread held, as a frozen program would be seen.
void TestXWindow::everyFrameIsOneMoment_data()
{
    QTest::addColumn<bool>("follow");
    QTest::newRow("the panes follow the scan") << true;
    // A pane that does not move is repainted only for the mask's own sake.
    QTest::newRow("the panes stay") << false;
}

void TestXWindow::everyFrameIsOneMoment()
{
    QFETCH(bool, follow);
    Sandbox box;
    ScriptedDesktop desk;
    constexpr int Width = 4096, Height = 1024, Files = 3;
    QStringList files;
    for (int i = 0; i < Files; ++i) {
        files.append(box.file(QStringLiteral("sheet%1.bmp").arg(i)));
        writeBmp(codedSprite(Width, Height), files.last());
    }
    frmMain w;
    w.Form_Load();
    control<QAction>(w, "chkPromptOverwrite")->setChecked(false);
    control<QAction>(w, "chkDoScroll")->setChecked(follow);
    w.SetMColor(0x0000FF); // red: white is what the mask is cleared to
    w.addFiles(files, true);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    auto *conSprite = control<PictureSurface>(w, "conSprite");
    auto *conMask = control<PictureSurface>(w, "conMask");
    auto *bar = control<PictureSurface>(w, "picProgress");
    auto *status = control<QLabel>(w, "lblStatus");
    const QRect spriteArea = onScreen(conSprite->client(), conSprite->client()->rect());
    const QRect maskArea = onScreen(conMask->client(), conMask->client()->rect());
    const QRect barArea = onScreen(bar->client(), bar->client()->rect());
    // The status line as it would read at a percent, drawn by a label of the same kind.
    QLabel probe(status->parentWidget());
    probe.setFont(status->font());
    probe.hide();
    const auto drawn = [&](const QString &text) {
        probe.setText(text);
        probe.resize(probe.sizeHint());
        return probe.grab().toImage();
    };

    struct Frame {
        QImage sprite, mask, bar, status;
    };
    QList<Frame> frames;
    QTimer grabber;
    connect(&grabber, &QTimer::timeout, &w, [&] {
        if (control<QPushButton>(w, "cmdCancel")->isEnabled())
            frames.append({grabScreen(spriteArea), grabScreen(maskArea), grabScreen(barArea),
                           grabScreen(onScreen(status, QRect(0, 0, 400, status->height())))});
    });
    grabber.start(45);
    {
        // However fast the machine, enough frames to see a fault that shows in one of a few.
        BusyMachine busy;
        for (int run = 0; run < 10 && frames.size() < 30; ++run)
            control<QPushButton>(w, "cmdMaskAll")->click();
    }
    grabber.stop();
    QVERIFY2(frames.size() >= 10, qPrintable(QString::number(frames.size())));
    for (const QString &f : files)
        QVERIFY(QFile::exists(MaskRun::outputName(f, "_mask")));

    const int tolerance = Width / 50; // 2 % of the sprite: the bar's own rounding is 1 %
    int masking = 0;
    for (int i = 0; i < frames.size(); ++i) {
        const Frame &f = frames[i];
        int fill = 0;
        while (fill < f.bar.width() && f.bar.pixel(fill, f.bar.height() / 2) == 0xFF0000FFu)
            ++fill;
        const double percent = 100.0 * fill / f.bar.width();
        const double scanned = Width * percent / 100.0;
        const QList<int> sprite = columnsOf(f.sprite, 0xFF000000u, 0xFF00FF00u);
        const QList<int> mask = columnsOf(f.mask, 0xFFFF0000u, 0xFF000000u);
        QVERIFY2(sprite.first() >= 0, qPrintable(QStringLiteral("frame %1: no sprite").arg(i)));
        for (int c = 0; c < mask.size(); ++c) {
            const int x = sprite.first() + c;
            if (x < scanned - tolerance)
                QVERIFY2(mask[c] == x, qPrintable(QStringLiteral("frame %1 (bar at %2 %): column "
                                                                 "%3 is not masked on screen")
                                                      .arg(i)
                                                      .arg(percent)
                                                      .arg(x)));
            else if (x > scanned + tolerance && x < Width)
                QVERIFY2(mask[c] == -1, qPrintable(QStringLiteral("frame %1 (bar at %2 %): "
                                                                  "column %3 is masked ahead")
                                                       .arg(i)
                                                       .arg(percent)
                                                       .arg(x)));
        }
        // The status line reads the bar's percent, give or take two points (the bar's pixels
        // round it).
        bool agrees = false;
        for (int p = int(percent) - 2; p <= int(percent) + 2 && !agrees; ++p) {
            const QString prefix = QStringLiteral("Status: Masking(%1%").arg(p);
            const int width = QFontMetrics(status->font()).horizontalAdvance(prefix) + 2;
            agrees = ink(f.status, width) == ink(drawn(prefix + ", 1 Seconds)..."), width);
            masking += agrees;
        }
        // Before a file's first refresh point the line still says how the last one ended.
        if (!agrees && (percent > 98 || percent < 2)) {
            const QString prefix = QStringLiteral("Status: Ready");
            const int width = QFontMetrics(status->font()).horizontalAdvance(prefix) + 2;
            agrees = ink(f.status, width) == ink(drawn(prefix), width);
        }
        QVERIFY2(agrees, qPrintable(QStringLiteral("frame %1: the status does not read the "
                                                   "bar's %2 %")
                                        .arg(i)
                                        .arg(percent)));
    }
    QVERIFY(masking > 0); // the line was read, not only its Ready text
}

// A cancel that comes between two files names the file that was not begun: it has no mask,
// and every file before it has one.
void TestXWindow::cancelBetweenFilesNamesAFileWithoutMask()
{
    Sandbox box;
    ScriptedDesktop desk;
    // Too small for a refresh point: the only chance to cancel is between two files.
    const QImage tiny = codedSprite(20, 20);
    QStringList files;
    for (int i = 0; i < 400; ++i) {
        files.append(box.file(QStringLiteral("t%1.bmp").arg(i, 4, 10, QLatin1Char('0'))));
        writeBmp(tiny, files.last());
    }
    frmMain w;
    w.Form_Load();
    control<QAction>(w, "chkPromptOverwrite")->setChecked(false);
    w.addFiles(files, true);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *cancel = control<QPushButton>(w, "cmdCancel");
    int yields = 0;
    QTimer presser;
    connect(&presser, &QTimer::timeout, &w, [&] {
        if (cancel->isEnabled() && ++yields == 30)
            cancel->click();
    });
    presser.start(0);
    control<QPushButton>(w, "cmdMaskAll")->click();
    presser.stop();

    const QString counter = control<QLabel>(w, "lblFileStat")->text();
    const QString shown = control<QLabel>(w, "lblStatus")->text();
    QVERIFY2(shown.startsWith("Status: Cancelled("), qPrintable(shown));
    const int n = counter.section(' ', 1, 1).toInt();
    QVERIFY2(n > 1 && n < files.size(), qPrintable(counter));
    for (int i = 0; i < n - 1; ++i)
        QVERIFY2(QFile::exists(MaskRun::outputName(files[i], "_mask")), qPrintable(files[i]));
    QVERIFY2(!QFile::exists(MaskRun::outputName(files[n - 1], "_mask")),
             qPrintable(counter + " names a file that has its mask"));
}

// The error status ends with the log's path: under a deep folder it is shortened to fit the
// window, and its tooltip holds it whole.
void TestXWindow::errorStatusFitsTheWindow()
{
    Sandbox box;
    ScriptedDesktop desk;
    desk.answers = {Desktop::Answer::No};
    const QString deep =
        box.data.path() + "/opt/games/sprite-tools/pelloran-1.21/a-rather-long-folder-name/data/";
    QVERIFY(QDir().mkpath(deep));
    DebugLog.setDataPath(deep);
    writeBmp(codedSprite(40, 40), box.file("a.bmp"));
    QVERIFY(QDir().mkdir(box.file("a_mask.bmp"))); // the mask cannot be written
    frmMain w;
    w.Form_Load();
    control<QAction>(w, "chkPromptOverwrite")->setChecked(false);
    w.addFiles({box.file("a.bmp")}, true);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    control<QPushButton>(w, "cmdMaskAll")->click();
    auto *status = control<QLabel>(w, "lblStatus");
    QVERIFY2(status->text().startsWith("Status: Error(100%, After 0 Seconds)... See "),
             qPrintable(status->text()));
    QVERIFY2(status->text().endsWith("debug.dat"), qPrintable(status->text()));
    QCOMPARE(status->toolTip(), deep + "debug.dat");
    QWidget *client = w.centralWidget();
    const QRect line(status->mapTo(client, QPoint(0, 0)), status->size());
    QVERIFY2(client->rect().contains(line), qPrintable(status->text()));
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
