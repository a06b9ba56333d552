// Feeds thousands of damaged variants of small pictures of every kind through the picture
// reader. Run under the sanitizers, it passes when nothing crashes, nothing reads out of
// bounds and no picture larger than its file can describe comes back.
//
//   fuzz_pictures [COUNT] [SEED]

#include "PictureIO.h"
#include "RunError.h"
#include "TestPictures.h"

#include <QCoreApplication>

#include <cstdio>
#include <random>

namespace
{

QList<QByteArray> seeds()
{
    const QImage big = sample().scaled(40, 24);
    const QByteArray masks("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0\0\0\0\xFF", 16);
    return {
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
        saved(big, "JPG"),
    };
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 3000;
    std::mt19937 rng(argc > 2 ? quint32(atoll(argv[2])) : 20261206u);
    const QList<QByteArray> pool = seeds();
    int read = 0, refused = 0, tooLarge = 0;
    for (int i = 0; i < count; ++i) {
        QByteArray bytes = pool[i % pool.size()];
        for (int n = 1 + int(rng() % 3); n > 0; --n)
            mutate(bytes, rng);
        try {
            const QImage image = decodePicture(bytes, QStringLiteral("mutant"));
            ++read;
            // A run paints at most 255 pixels per two bytes; compressed formats somewhat
            // more per byte; nothing comes close to this.
            if (qint64(image.width()) * image.height() > 16384 * qint64(bytes.size()) + 64) {
                ++tooLarge;
                std::fprintf(stderr, "mutant %d: %d x %d from %lld bytes\n", i, image.width(),
                             image.height(), qint64(bytes.size()));
            }
        } catch (const RunError &) {
            ++refused;
        }
    }
    std::printf("%d mutants: %d read, %d refused, %d larger than their files\n", count, read,
                refused, tooLarge);
    return tooLarge ? 1 : 0;
}
