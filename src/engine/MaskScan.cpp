#include "MaskScan.h"

#include "MaskWindow.h"
#include "PixelRows.h"
#include "Rounding.h"

#include <QElapsedTimer>

#include <QtEndian>

#include <algorithm>
#include <cstring>

void maskSpan(const QRgb *sprite, QRgb *out, int count, QRgb transparent, QRgb mask, bool matchable)
{
    if (!matchable) {
        std::fill(out, out + count, transparent);
        return;
    }
    // Branch-free so the compiler can vectorise it: this loop is where a scan spends
    // nearly all of its time.
    for (int i = 0; i < count; ++i)
        out[i] = (sprite[i] | 0xFF000000u) == transparent ? mask : transparent;
}

void maskPackedRow(const uchar *in, uchar *out, qint64 count, int bytesPerPixel, QRgb transparent,
                   QRgb mask)
{
    // Little-endian blue, green, red read as a word is the QRgb value without its alpha.
    const quint32 t = transparent & 0xFFFFFF, m = mask & 0xFFFFFF;
    const auto rule = [t, m](quint32 p) { return (p & 0xFFFFFF) == t ? m : t; };
    if (bytesPerPixel == 3) {
        maskRow24(in, out, count, t, m);
        return;
    }
    qint64 x = 0;
    for (; x < count; ++x) {
        const uchar *p = in + bytesPerPixel * x;
        const quint32 v = rule(p[0] | quint32(p[1]) << 8 | quint32(p[2]) << 16);
        out[3 * x] = uchar(v);
        out[3 * x + 1] = uchar(v >> 8);
        out[3 * x + 2] = uchar(v >> 16);
    }
}

namespace
{

constexpr qint64 RefreshEvery = 1000;

// Brings the mask picture up to a position of the scan. Positions are counted the way the
// scan counts pixels: column by column, (H + 1) per column, so position n is pixel
// (n / rows, n % rows). Whole columns between two positions are painted row by row, which
// keeps memory access sequential; the two partial columns at the ends are painted pixel by
// pixel. Pixels of the counted column and row past the picture read as no colour and so
// become the transparency colour; writes past the mask picture's edges are dropped.
class Materializer
{
public:
    Materializer(const QImage &sprite, MaskWindow &window, qint64 rows, Colour transparency,
                 Colour mask)
        : m_sprite(sprite), m_window(window), m_rows(rows),
          m_matchable((transparency & ~0xFFFFFF) == 0), m_t(toQRgb(transparency)), m_m(toQRgb(mask))
    {
    }

    qint64 done() const { return m_done; }

    void advanceTo(qint64 end)
    {
        if (end <= m_done)
            return;
        QImage &mask = m_window.maskPicture();
        const qint64 xa = m_done / m_rows, ya = m_done % m_rows;
        const qint64 xb = end / m_rows, yb = end % m_rows;
        if (xa == xb) {
            column(mask, xa, ya, yb);
        } else {
            column(mask, xa, ya, m_rows);
            block(mask, xa + 1, xb);
            column(mask, xb, 0, yb);
        }
        m_done = end;
    }

private:
    QRgb maskOf(qint64 x, qint64 y) const
    {
        if (x >= m_sprite.width() || y >= m_sprite.height() || !m_matchable)
            return m_t;
        const QRgb p = reinterpret_cast<const QRgb *>(m_sprite.constScanLine(int(y)))[x];
        return (p | 0xFF000000u) == m_t ? m_m : m_t;
    }

    void column(QImage &mask, qint64 x, qint64 y0, qint64 y1) const
    {
        if (x >= mask.width())
            return;
        y1 = std::min<qint64>(y1, mask.height());
        for (qint64 y = y0; y < y1; ++y)
            reinterpret_cast<QRgb *>(mask.scanLine(int(y)))[x] = maskOf(x, y);
    }

    // Columns [x0, x1), every row.
    void block(QImage &mask, qint64 x0, qint64 x1) const
    {
        x1 = std::min<qint64>(x1, mask.width());
        if (x0 >= x1)
            return;
        const qint64 rows = std::min<qint64>(m_rows, mask.height());
        const qint64 inSprite = std::clamp<qint64>(m_sprite.width(), x0, x1);
        for (qint64 y = 0; y < rows; ++y) {
            QRgb *out = reinterpret_cast<QRgb *>(mask.scanLine(int(y)));
            qint64 x = x0;
            if (y < m_sprite.height() && inSprite > x0) {
                const QRgb *in = reinterpret_cast<const QRgb *>(m_sprite.constScanLine(int(y)));
                maskSpan(in + x0, out + x0, int(inSprite - x0), m_t, m_m, m_matchable);
                x = inSprite;
            }
            std::fill(out + x, out + x1, m_t);
        }
    }

    const QImage &m_sprite;
    MaskWindow &m_window;
    const qint64 m_rows;
    const bool m_matchable;
    const QRgb m_t;
    const QRgb m_m;
    qint64 m_done = 0;
};

QString seconds(float elapsed)
{
    return QString::number(roundHalfEven(elapsed));
}

} // namespace

MaskScan::MaskScan(MaskWindow &window, Colour transparency, Colour mask, RunView &view)
    : m_window(window), m_view(view), m_tColor(transparency), m_mColor(mask)
{
}

MaskScan::MaskScan(MaskWindow &window, Colour transparency, Colour mask)
    : MaskScan(window, transparency, mask, m_ownView)
{
}

QString MaskScan::maskingText(int percent, float elapsed)
{
    return QStringLiteral("Status: Masking(") + QString::number(percent) + QStringLiteral("%, ") +
           seconds(elapsed) + QStringLiteral(" Seconds)...");
}

QString MaskScan::cancelledText(int percent, float elapsed)
{
    return QStringLiteral("Status: Cancelled(") + QString::number(percent) +
           QStringLiteral("%, After ") + seconds(elapsed) + QStringLiteral(" Seconds)...");
}

MaskScan::Result MaskScan::run()
{
    MaskWindow &w = m_window;
    RunView &view = m_view;
    Result result;

    // A shallow copy: the pixels stay valid even if the surface were given a new picture
    // while the scan yields.
    const QImage sprite = w.spritePicture();
    const double w0 = sprite.width();
    w.clearMask();
    // Where the bars are to go, kept until a frame shows it: a move is an order, not a
    // state, so a frame without a new one leaves the bars where the user may have put them.
    std::optional<int> scroll;
    if (w.scrollFollowsScan())
        scroll = 0;
    view.percent = 0;
    QElapsedTimer clock;
    clock.start();
    const int hmax = w.hScrMaskMax();

    const int width = roundHalfEven(w0);
    const qint64 rows = qint64(sprite.height()) + 1;
    const qint64 total = qint64(width + 1) * rows;

    // The first pixel's percent is 0 / 0.
    if (w0 == 0) {
        view.scroll = scroll;
        result.outcome = Result::Failed;
        result.error = RunError::of(RunError::DivisionByZero);
        return result;
    }

    const auto percentAt = [w0](qint64 x) { return roundHalfEven(double(int(x) * 100) / w0); };

    // The start: the emptied mask and bar, the panes at their left edge.
    view.scroll = scroll;
    w.show(view, MaskWindow::Show::IfDue);
    view.scroll.reset();
    scroll.reset();
    w.scanStarted();
    struct ScanEnd {
        MaskWindow &w;
        ~ScanEnd() { w.scanEnded(); }
    } scanEnd{w};

    Materializer mask(sprite, w, rows, m_tColor, m_mColor);
    // One moment of the scan, whole: the mask up to `done` pixels and the view that goes
    // with it.
    const auto showUpTo = [&](qint64 done, const QString &status, MaskWindow::Show when) {
        mask.advanceTo(done);
        view.percent = result.percent;
        view.status = status;
        view.statusPath.clear();
        view.scroll = scroll;
        w.show(view, when);
        view.scroll.reset();
        scroll.reset();
    };
    const auto cancelledAfter = [&](qint64 pixel) {
        result.percent = percentAt(pixel / rows);
        showUpTo(pixel + 1, cancelledText(result.percent, result.elapsed), MaskWindow::Show::Now);
        result.outcome = Result::Cancelled;
        return result;
    };

    if (w.cancelRun())
        return cancelledAfter(0);

    // Refresh points: before the 1000th, 2000th, ... counted pixel, i.e. before the pixel at
    // position 999, 1999, ...; the bar stands at the pixel before.
    for (qint64 k = RefreshEvery - 1; k < total; k += RefreshEvery) {
        result.percent = percentAt((k - 1) / rows);
        w.yield();
        result.elapsed = float(double(clock.nsecsElapsed()) / 1e9);

        if (w.scrollFollowsScan()) {
            const qint64 x = k / rows;
            const int s = roundHalfEven(double(x) - w.maskViewportWidth() / 2.0);
            if (s >= hmax)
                scroll = RunView::ScrollToEnd;
            else if (s > 0)
                scroll = s;
        }

        if (w.cancelRun())
            return cancelledAfter(k);
        // Everything above is what this refresh point would show; it is seen only when the
        // window can show it, and then all of it together.
        if (w.frameDue())
            showUpTo(k, maskingText(result.percent, result.elapsed), MaskWindow::Show::Now);
    }

    mask.advanceTo(total);
    result.percent = percentAt(width);
    view.percent = result.percent;
    view.scroll = scroll;
    result.outcome = Result::Completed;
    return result;
}
