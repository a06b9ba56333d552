// Times "Mask All" in the real main window over whole folders of sprites against copying
// the same files with cp, in one run, so the noise of a shared machine hits both sides
// alike. Run it offscreen (QT_QPA_PLATFORM=offscreen) or under a display:
//
//   bench_batch [-r REPS] DIR...
//
// Each DIR's *.bmp files are the sprites; masks left there by an earlier run are removed
// first, and the masks this run writes are removed afterwards. With REPS above 1 the copy
// and the run alternate REPS times; the medians are reported, and beside them the ratio of
// the fastest of each, since the noise of a busy machine only ever adds time.

#include "Desktop.h"
#include "frmMain.h"
#include "modMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

// Every question is answered the way that lets the batch go on, and nothing waits on a
// window or a sound.
class StandInDesktop : public Desktop
{
public:
    Answer message(QWidget *, const QString &, Buttons buttons, Icon, Answer) override
    {
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Yes;
    }
    Answer question(QWidget *, const QString &, const QString &, bool &) override
    {
        return Answer::Yes;
    }
    int exec(QDialog &) override { return 0; }
    bool startDetached(const QString &, const QStringList &) override { return false; }
    bool openUrl(const QUrl &) override { return false; }
    void playSound(const QString &) override {}
    void beep() override {}
    void alert(QWidget *, int) override {}
    void endProcess(int) override {}
};

const QString MaskSuffix = QStringLiteral("_mask.bmp");

bool isMask(const QString &name)
{
    return name.endsWith(MaskSuffix, Qt::CaseInsensitive);
}

int removeMasks(QDir &dir)
{
    int removed = 0;
    for (const QString &name : dir.entryList({QStringLiteral("*.bmp")}, QDir::Files))
        if (isMask(name) && dir.remove(name))
            ++removed;
    return removed;
}

// Data written by the last step must not be flushed while the next one is timed.
void flushDisks()
{
    QProcess::execute(QStringLiteral("sync"), {});
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    QStringList args = QCoreApplication::arguments().mid(1);
    int reps = 1;
    if (args.size() >= 2 && args[0] == QLatin1String("-r")) {
        reps = std::max(1, args[1].toInt());
        args = args.mid(2);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_batch [-r REPS] DIR...\n");
        return 2;
    }

    // Settings and the debug log go to a folder of their own: the user's are never read
    // or written, so the run starts from the default options.
    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        std::fprintf(stderr, "bench_batch: no temporary folder\n");
        return 1;
    }
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, tmp.path());
    SetPaths();
    DebugLog.setDataPath(tmp.path() + QLatin1Char('/'));

    StandInDesktop standIn;
    setDesktop(&standIn);

    std::printf("%-28s %6s %9s %9s %11s %7s %7s\n", "set", "files", "MB", "copy s", "MaskAll s",
                "ratio", "best");
    std::fflush(stdout);
    int status = 0;
    for (const QString &arg : std::as_const(args)) {
        const QString dirPath = QFileInfo(arg).absoluteFilePath();
        QDir dir(dirPath);
        if (!dir.exists()) {
            std::fprintf(stderr, "bench_batch: %s is not a folder\n", qPrintable(arg));
            status = 1;
            continue;
        }
        removeMasks(dir);
        QStringList sprites;
        qint64 bytes = 0;
        for (const QFileInfo &fi :
             dir.entryInfoList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name))
            if (!isMask(fi.fileName())) {
                sprites << fi.absoluteFilePath();
                bytes += fi.size();
            }
        if (sprites.isEmpty()) {
            std::fprintf(stderr, "bench_batch: no sprites in %s\n", qPrintable(arg));
            status = 1;
            continue;
        }

        frmMain w;
        w.Form_Load();
        w.show();
        QCoreApplication::processEvents();

        const QString copyPath = dirPath + QStringLiteral(".copy");
        std::vector<double> copySecs, maskSecs;
        for (int rep = 0; rep < reps; ++rep) {
            // The copy runs while the folder holds the sprites alone, so both sides read
            // the same bytes.
            QDir(copyPath).removeRecursively();
            flushDisks();
            QElapsedTimer t;
            t.start();
            const int cpStatus =
                QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), dirPath, copyPath});
            copySecs.push_back(t.nsecsElapsed() / 1e9);
            if (cpStatus != 0) {
                std::fprintf(stderr, "bench_batch: cp failed for %s\n", qPrintable(arg));
                status = 1;
            }
            QDir(copyPath).removeRecursively();

            w.addFiles(sprites, true);
            QCoreApplication::processEvents();
            flushDisks();
            t.restart();
            w.cmdMaskAll_Click();
            maskSecs.push_back(t.nsecsElapsed() / 1e9);

            const int written = removeMasks(dir);
            if (written != sprites.size()) {
                std::fprintf(stderr, "bench_batch: %s: %d masks written for %lld sprites\n",
                             qPrintable(arg), written, qlonglong(sprites.size()));
                status = 1;
            }
        }

        const double c = median(copySecs), m = median(maskSecs);
        const double best = *std::min_element(maskSecs.begin(), maskSecs.end()) /
                            *std::min_element(copySecs.begin(), copySecs.end());
        std::printf("%-28s %6lld %9.1f %9.3f %11.3f %7.2f %7.2f\n", qPrintable(arg),
                    qlonglong(sprites.size()), bytes / 1e6, c, m, m / c, best);
        std::fflush(stdout);
    }
    setDesktop(nullptr);
    return status;
}
