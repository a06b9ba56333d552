#pragma once

// What the tests of the picture sources share: the files under data/; a source's bands put
// together into a picture, each band held to the contract in PictureSource.h; Qt's picture as
// a source hands it out; the RunError a call raises; and the largest allocation a read made.

#include "PictureIO.h"
#include "PictureSource.h"
#include "RunError.h"
#include "TestFiles.h"
#include "TestPictures.h"

#include <QDir>
#include <QImage>
#include <QTest>

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it): calls back on every allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

// A file under tests/data/, by its path there; empty when there is none.
inline QByteArray testData(const QString &path)
{
    return readFile(QFINDTESTDATA(QStringLiteral("data/") + path));
}

inline constexpr RowLayout Layouts[] = {RowLayout::Bgrx32, RowLayout::Bgra32, RowLayout::Bgr24};

// The largest single allocation since watchAllocations(). Only the address sanitizer's
// runtime reports allocations; without it nothing is watched and the check below passes.
inline std::atomic<size_t> g_largestAllocation{0};

inline void watchAllocations()
{
#if defined(__SANITIZE_ADDRESS__)
    [[maybe_unused]] static const int installed = __sanitizer_install_malloc_and_free_hooks(
        [](const volatile void *, size_t size) {
            size_t seen = g_largestAllocation.load();
            while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
            }
        },
        [](const volatile void *) {});
#endif
    g_largestAllocation = 0;
}

// Nothing of a damaged picture's declared size may be allocated: a mebibyte at once is
// more than any read here needs.
#define VERIFY_ALLOCATED_LITTLE()                                                                  \
    QVERIFY2(g_largestAllocation < (1 << 20), qPrintable(QString::number(g_largestAllocation)))

// The number of the RunError `f` raises and its description; 0 when it raises none.
inline int errorOf(const std::function<void()> &f, QString *message = nullptr)
{
    try {
        f();
    } catch (const RunError &e) {
        if (message)
            *message = e.description();
        return e.number();
    }
    return 0;
}

// The read (the last argument, a callable) raises RunError `number` (0: none) with a
// description that holds `why`, and allocates nothing of what a damaged file declares.
#define VERIFY_ERROR(number, why, ...)                                                             \
    do {                                                                                           \
        QString said;                                                                              \
        watchAllocations();                                                                        \
        QCOMPARE(errorOf(__VA_ARGS__, &said), int(number));                                        \
        QVERIFY2(said.contains(why), qPrintable(said));                                            \
        VERIFY_ALLOCATED_LITTLE();                                                                 \
    } while (false)

// `img` as a source hands it out in `layout`, as Format_ARGB32: opaque but for Bgra32.
inline QImage inLayout(const QImage &img, RowLayout layout)
{
    const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
    return layout == RowLayout::Bgra32
               ? argb
               : argb.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
}

// The whole picture through the source's bands of at most `maxRows` rows, in `layout`, as
// Format_ARGB32 (so Bgrx32's fourth byte shows); null where a band breaks the contract.
// Bands without interlacing are whole rows in the order topDown() says; every pixel comes
// once. `bands` gets the bands as they came.
inline QImage readBands(PictureSource &source, RowLayout layout, int maxRows, bool topDown = true,
                        std::vector<Band> *bands = nullptr)
{
    const int w = source.width(), h = source.height(), bpp = bytesPerPixel(layout);
    source.start(layout, topDown);
    if (source.reversible() && source.topDown() != topDown)
        return {};
    QImage img(w, h, layout == RowLayout::Bgr24 ? QImage::Format_BGR888 : QImage::Format_ARGB32);
    img.fill(0x5A); // a pixel no band writes shows
    std::vector<uchar> rows;
    qint64 done = 0; // pixels
    for (Band b; (b = source.nextBand(maxRows)).rows > 0; done += qint64(b.rows) * b.pixels) {
        const int next = int(done / w), dy = source.topDown() ? 1 : -1;
        if (b.rows > maxRows || (!source.interlaced() && (!b.wholeRows(w) || b.dy != dy ||
                                                          b.y0 != (dy > 0 ? next : h - 1 - next))))
            return {};
        const qsizetype stride = qsizetype(b.pixels) * bpp;
        rows.resize(size_t(stride * b.rows));
        source.readBand(rows.data(), stride);
        for (int i = 0; i < b.rows * b.pixels; ++i) {
            const int x = b.x0 + i % b.pixels * b.dx, y = b.y0 + i / b.pixels * b.dy;
            if (x < 0 || x >= w || y < 0 || y >= h)
                return {};
            std::memcpy(img.scanLine(y) + x * bpp, rows.data() + i * bpp, size_t(bpp));
        }
        if (bands)
            bands->push_back(b);
    }
    source.finish();
    return done == qint64(w) * h ? img.convertToFormat(QImage::Format_ARGB32) : QImage();
}

// The same for a file's bytes, through the source openPicture chooses for `name`.
inline QImage readBands(const QByteArray &bytes, const QString &name, RowLayout layout, int maxRows,
                        bool topDown = true, std::vector<Band> *bands = nullptr)
{
    InputFile in(bytes, name);
    return readBands(*openPicture(in, name), layout, maxRows, topDown, bands);
}
