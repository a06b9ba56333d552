// Feeds thousands of damaged variants of pictures of every kind through both readers: the
// whole-picture read the window uses, and the file job that streams a sprite into each kind
// of mask file, which asks the sources for the other row order and layouts. Run under the
// sanitizers, it passes when nothing crashes or reads out of bounds, no picture larger than
// its file can describe comes back, and the two readers agree: a file one refuses the other
// refuses, and a file both read gives the mask of the picture the window shows.
//
//   fuzz_pictures [COUNT] [SEED] [FOLDER] [SECONDS]
//
// COUNT mutants are always tried, whatever the machine's speed, so every run checks at least
// those same files; then more, drawn from the same sequence, until SECONDS have passed since
// the start. FOLDER: more seed files, every file in it.

#include "FileJob.h"
#include "MaskRule.h"
#include "PictureIO.h"
#include "RunError.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace
{

QList<QByteArray> seeds(const QString &folder)
{
    const QImage big = sample().scaled(40, 24);
    const QByteArray masks("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0\0\0\0\xFF", 16);
    QImage alpha = big.convertToFormat(QImage::Format_ARGB32);
    alpha.setPixel(3, 3, 0x00000000);
    QList<QByteArray> out = {
        saved(big, "BMP"),
        saved(big.convertToFormat(QImage::Format_Indexed8), "BMP"),
        saved(big.convertToFormat(QImage::Format_Mono), "BMP"),
        bmp(5, 3, 8, 0, rows(8, true), 16),
        bmp(5, 3, 8, 1, rows(8, true, true), 16),
        bmp(5, 3, 4, 2, rle4Rows(), 16),
        bmp(5, -3, 24, 0, rows(24, false)),
        bmp(5, 3, 32, 3, rows(32, true), 0, masks + QByteArray(52, '\0')), // V4 header
        bmp(5, 3, 32, 3, rows(32, true), 0, masks + QByteArray(68, '\0')), // V5 header
        bmp(4, 3, 16, 0, QByteArray(24, '\x5A')),
        coreBmp(),
        gif(),
        saved(big, "PNG"),
        saved(alpha, "PNG"),
        saved(big.convertToFormat(QImage::Format_Indexed8), "PNG"),
        saved(big, "JPG"),
        saved(big, "JPG", -1, true),
    };
    if (!folder.isEmpty())
        for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            out.append(readFile(it.next()));
    return out;
}

// Sheets larger than one block of the readers, in both row orders: every tenth mutant.
QList<QByteArray> largeSeeds()
{
    const QImage sheet = sample().scaled(700, 520);
    return {packed(sheet, 24, false), packed(sheet, 32, true), saved(sheet, "PNG"),
            saved(sheet, "JPG")};
}

// One careless edit of the kind damaged files show: a header field set to an edge value,
// a flipped byte, a cut, bytes added or taken out.
void mutate(QByteArray &b, std::mt19937 &rng)
{
    const auto pick = [&](qsizetype n) {
        return qsizetype(rng() % quint32(std::max<qsizetype>(1, n)));
    };
    static const quint32 edges[] = {
        0,   1,     2,     3,     8,      12,     40,     108,        124,        255,
        256, 16383, 16384, 16385, 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    switch (rng() % 6) {
    case 0: { // a header field
        const qsizetype at = pick(std::min<qsizetype>(b.size(), 60));
        b = with(b, int(at), edges[rng() % std::size(edges)],
                 int(std::min<qsizetype>(4, b.size() - at)));
        break;
    }
    case 1:
        if (!b.isEmpty())
            b[pick(b.size())] ^= char(1 << (rng() % 8));
        break;
    case 2: b.truncate(pick(b.size())); break;
    case 3: b.insert(pick(b.size()), QByteArray(int(1 + rng() % 16), char(rng()))); break;
    case 4: b.remove(pick(b.size()), 1 + pick(16)); break;
    default:
        if (!b.isEmpty())
            b[pick(b.size())] = char(rng());
    }
}

const MaskOutput kinds[] = {
    {MaskFormat::Bmp, 24}, {MaskFormat::Bmp, 1}, {MaskFormat::Png, 24}, {MaskFormat::Png, 1}};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();
    const int least = argc > 1 ? atoi(argv[1]) : 3000;
    const qint64 budget = argc > 4 ? atoll(argv[4]) * 1000 : 0;
    std::mt19937 rng(argc > 2 ? quint32(atoll(argv[2])) : 20261206u);
    const QList<QByteArray> pool = seeds(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    const QList<QByteArray> large = largeSeeds();
    QTemporaryDir dir;
    // Named .tga so that a file with none of the other formats' signatures is tried as one.
    const QString sprite = dir.filePath(QStringLiteral("sprite.tga")),
                  mask = dir.filePath(QStringLiteral("mask"));
    int read = 0, refused = 0, faults = 0, i = 0;
    for (; i < least || clock.elapsed() < budget; ++i) {
        QByteArray bytes = i % 10 == 9 ? large[(i / 10) % large.size()] : pool[i % pool.size()];
        for (int n = 1 + int(rng() % 3); n > 0; --n)
            mutate(bytes, rng);
        // Either the window's exact rule or one that looks at alpha, into each kind of mask.
        MaskRule rule;
        rule.keys = {0x302010};
        rule.alpha = i % 3 == 0 ? 0 : -1;
        const MaskOutput kind = kinds[(i / 3) % std::size(kinds)];
        const PictureAlpha alpha = rule.usesAlpha() ? PictureAlpha::Keep : PictureAlpha::Drop;
        QImage image;
        try {
            image = decodePicture(bytes, QStringLiteral("mutant.tga"), alpha);
            ++read;
        } catch (const RunError &) {
            ++refused;
        }
        writeFile(sprite, bytes);
        QFile::remove(mask);
        FileJob job({rule, kind});
        const FileJob::Outcome outcome = job.run(sprite, mask, Existing::Replace);
        QString fault;
        if (qint64(image.width()) * image.height() > 16384 * qint64(bytes.size()) + 64)
            fault = QStringLiteral("%1 x %2 from %3 bytes")
                        .arg(image.width())
                        .arg(image.height())
                        .arg(bytes.size());
        else if ((outcome == FileJob::Outcome::Masked) != !image.isNull())
            fault = QStringLiteral("the window %1 it, the file job %2 it")
                        .arg(image.isNull() ? "refused" : "read",
                             outcome == FileJob::Outcome::Masked ? "masked" : "refused");
        else if (!image.isNull() &&
                 QImage::fromData(readFile(mask)).convertToFormat(QImage::Format_RGB32) !=
                     maskOf(image, rule))
            fault = QStringLiteral("the file job's mask is not the window's picture's");
        if (!fault.isEmpty()) {
            ++faults;
            writeFile(QStringLiteral("fuzz-fault-%1.bin").arg(i), bytes);
            std::fprintf(stderr, "mutant %d (kind %d/%d, alpha %d): %s\n", i, int(kind.format),
                         kind.depth, rule.alpha, qPrintable(fault));
        }
    }
    std::printf("%d mutants: %d read, %d refused, %d faults\n", i, read, refused, faults);
    return faults ? 1 : 0;
}
