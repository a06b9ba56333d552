#pragma once

#include "Colour.h"
#include "MaskWindow.h"
#include "RunError.h"

#include <optional>

// Turns the sprite picture into its mask on the mask picture, column by column, with the
// progress bar, the status text, the scroll bars following, and a cancel test.
//
// The scan counts (W + 1) x (H + 1) pixels (one column and one row past the picture) and
// refreshes before every 1000th; the counter runs on across columns. Only what a frame shows
// can be seen, so the pixel work is not done in column order: at a refresh point where the
// window is ready for a frame (and at a cancel and the end) the mask is brought up to the
// scan's position in row-major blocks, and the view of that same refresh point (bar, status,
// scroll bars) is shown with it. The mask image at those moments is exactly what a strict
// column-by-column walk would have left there.
class MaskScan
{
public:
    struct Result {
        enum Outcome { Completed, Cancelled, Failed };
        Outcome outcome = Completed;
        int percent = 0;   // of the last pixel scanned
        float elapsed = 0; // seconds, as measured at the last refresh point
        std::optional<RunError> error;
    };

    // `view` is the run's: the scan moves its bar, status and scroll bars and leaves the
    // rest (the file counter) as it finds it.
    MaskScan(MaskWindow &window, Colour transparency, Colour mask, RunView &view);
    MaskScan(MaskWindow &window, Colour transparency, Colour mask);

    Result run();

    // The status texts of a scan, shared with the run that reports its end.
    static QString maskingText(int percent, float elapsed);
    static QString cancelledText(int percent, float elapsed);

private:
    MaskWindow &m_window;
    RunView m_ownView;
    RunView &m_view;
    Colour m_tColor;
    Colour m_mColor;
};

// The pixel rule over one span of a scan line: a sprite pixel equal to `transparent`
// becomes `mask`, every other one `transparent`. Both are QRgb values with alpha 0xFF;
// sprite pixels are compared with their alpha forced to 0xFF. `matchable` false means
// the transparency colour is no colour at all, so nothing can equal it.
void maskSpan(const QRgb *sprite, QRgb *out, int count, QRgb transparent, QRgb mask,
              bool matchable);

// The same rule over a row as a BMP file packs it: `bytesPerPixel` 3 (blue, green, red) or
// 4 (blue, green, red, unused), written out as a 24-bit row of `count` pixels. For the
// command line, which masks uncompressed sheets row block by row block.
void maskPackedRow(const uchar *in, uchar *out, qint64 count, int bytesPerPixel, QRgb transparent,
                   QRgb mask);
