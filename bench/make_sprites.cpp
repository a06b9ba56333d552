// Writes a set of sprite pictures for the benchmarks: 24-bit BMP files, each a black
// background with a few coloured shapes on it, so every mask has edges to find. With --png
// they are 8-bit RGBA PNG files instead (Qt's writer, not interlaced): the background is
// see-through (alpha 0, RGB black) and the shapes opaque, so a mask by alpha and a mask by
// the black key agree. The same seed draws the same shapes in either kind.
//
//   make_sprites [--png] OUT_DIR COUNT MIN_SIDE MAX_SIDE [SEED]
//
// Sides are drawn independently from MIN_SIDE..MAX_SIDE. The same arguments always give
// the same bytes: the generator below is spelled out rather than taken from <random>,
// whose distributions may differ between standard libraries.

#include <QDir>
#include <QImage>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// splitmix64: tiny, and its output does not depend on the compiler or library.
struct Rng {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int between(int lo, int hi) { return lo + int(next() % std::uint64_t(hi - lo + 1)); }
};

// Never pure black: black is the background the masks cut away.
QRgb shapeColour(Rng &rng)
{
    for (;;) {
        const int r = rng.between(0, 255), g = rng.between(0, 255), b = rng.between(0, 255);
        if (r + g + b > 48)
            return qRgb(r, g, b);
    }
}

void drawShape(QImage &img, Rng &rng)
{
    const int w = img.width(), h = img.height();
    const int sw = rng.between(std::max(2, w / 8), std::max(2, w * 2 / 3));
    const int sh = rng.between(std::max(2, h / 8), std::max(2, h * 2 / 3));
    const int x0 = rng.between(0, w - sw), y0 = rng.between(0, h - sh);
    const QRgb colour = shapeColour(rng);
    const int kind = rng.between(0, 2);
    // Centre and radii doubled so odd sizes stay symmetric in integers.
    const std::int64_t cx2 = 2 * x0 + sw - 1, cy2 = 2 * y0 + sh - 1;
    const std::int64_t rx = sw, ry = sh;
    for (int y = y0; y < y0 + sh; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = x0; x < x0 + sw; ++x) {
            bool inside = true;
            if (kind != 0) {
                const std::int64_t dx = 2 * x - cx2, dy = 2 * y - cy2;
                // (dx/rx)^2 + (dy/ry)^2 <= 1 without division.
                const std::int64_t lhs = dx * dx * ry * ry + dy * dy * rx * rx;
                const std::int64_t rr = rx * rx * ry * ry;
                inside = lhs <= rr;
                if (kind == 2) // a ring: holes inside a shape are where scans get interesting
                    inside = inside && lhs * 4 >= rr;
            }
            if (inside)
                line[x] = colour;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const bool png = argc > 1 && std::strcmp(argv[1], "--png") == 0;
    if (png) {
        --argc;
        ++argv;
    }
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr,
                     "usage: make_sprites [--png] OUT_DIR COUNT MIN_SIDE MAX_SIDE [SEED]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    const int minSide = std::atoi(argv[3]);
    const int maxSide = std::atoi(argv[4]);
    const std::uint64_t seed = argc == 6 ? std::strtoull(argv[5], nullptr, 10) : 1;
    if (count < 0 || minSide < 4 || maxSide < minSide) {
        std::fprintf(stderr, "make_sprites: bad COUNT or sides\n");
        return 2;
    }
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "make_sprites: cannot create %s\n", argv[1]);
        return 1;
    }

    Rng rng{seed};
    const int digits = int(QString::number(std::max(count - 1, 0)).size());
    for (int i = 0; i < count; ++i) {
        const int w = rng.between(minSide, maxSide), h = rng.between(minSide, maxSide);
        // RGB32 without alpha: Qt's BMP writer stores that as 24 bits a pixel. ARGB32 (not
        // premultiplied, so the transparent black stays as it is) becomes an RGBA PNG.
        QImage img(w, h, png ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        img.fill(png ? qRgba(0, 0, 0, 0) : qRgb(0, 0, 0));
        const int shapes = rng.between(2, 5);
        for (int s = 0; s < shapes; ++s)
            drawShape(img, rng);
        const QString path = outDir + QStringLiteral("/sprite_%1.%2")
                                          .arg(i, digits, 10, QLatin1Char('0'))
                                          .arg(png ? "png" : "bmp");
        if (!img.save(path, png ? "PNG" : "BMP")) {
            std::fprintf(stderr, "make_sprites: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
