#include "PictureSource.h"

#include "PictureChecks.h"
#include "RunError.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

// The first frame of a GIF, read through giflib a row at a time; later frames are never
// read. The picture is the file's logical screen, as the window has always shown it: the
// frame's rows padded with a fill where the frame is smaller than the screen.

namespace
{

// Follows the LZW codes of the frame as giflib is handed them. giflib takes a code past the
// end of its table for the one being defined and makes pixels up for it, so each code is
// checked here first. The pixels the codes stand for are counted as well, so that a file
// cut right after its last pixel (without its end code or terminator) can still count as
// whole (see GifSource::input). The table is giflib's: it defines every code up to 4095
// and then stays full until a clear code, so encoders that let it fill before clearing
// (Pillow, ImageMagick) may use code 4095 and go on with the codes it holds.
class CodeCheck
{
public:
    // `minBits`, the frame's code size; `pixels`, how many the frame needs.
    void start(int minBits, qint64 pixels)
    {
        m_clear = 1 << minBits;
        m_minBits = minBits;
        m_needed = pixels;
        reset();
    }

    // Takes the bytes after the code size as they come: sub-block lengths and data.
    // False at a code past the table.
    bool feed(const uchar *p, qint64 n)
    {
        for (qint64 i = 0; i < n && !m_over; ++i) {
            if (m_blockLeft == 0) {
                m_blockLeft = p[i];
                m_over = m_blockLeft == 0; // the frame's terminator
                continue;
            }
            --m_blockLeft;
            if (m_idle)
                continue;
            m_acc |= quint32(p[i]) << m_have;
            for (m_have += 8; m_have >= m_bits && !m_idle;) {
                const int code = int(m_acc & ((1u << m_bits) - 1));
                m_acc >>= m_bits;
                m_have -= m_bits;
                if (!take(code))
                    return false;
            }
        }
        return true;
    }

    bool complete() const { return m_produced >= m_needed; }
    int badCode() const { return m_bad; }

private:
    static constexpr int MaxCode = 4095, TableSize = MaxCode + 1;

    void reset()
    {
        m_running = m_clear + 2;
        m_bits = m_minBits + 1;
        m_limit = 1 << m_bits;
        m_defined = m_clear + 2;
        m_previous = -1;
    }

    int length(int code) const { return code < m_clear ? 1 : m_length[size_t(code)]; }

    bool take(int code)
    {
        // Every code moves giflib's running code on, and with it the code width.
        if (m_running < MaxCode + 2 && ++m_running > m_limit && m_bits < 12) {
            m_limit <<= 1;
            ++m_bits;
        }
        if (code == m_clear) {
            reset();
            return true;
        }
        if (code == m_clear + 1) { // the end code
            m_idle = true;
            return true;
        }
        // The code about to be defined stands for the previous string and its own first
        // pixel; one past it is a code giflib would make pixels up for.
        if (code > m_clear && (m_previous < 0 || code > m_defined)) {
            m_bad = code;
            return false;
        }
        if (m_previous >= 0 && m_defined < TableSize)
            m_length[size_t(m_defined++)] = quint16(length(m_previous) + 1);
        m_produced += length(code);
        m_previous = code;
        m_idle = m_produced >= m_needed;
        return true;
    }

    int m_clear = 4, m_minBits = 2, m_bits = 3, m_limit = 8, m_running = 6, m_defined = 6;
    int m_previous = -1, m_bad = -1;
    int m_blockLeft = 0;
    bool m_over = false, m_idle = false;
    quint32 m_acc = 0;
    int m_have = 0;
    qint64 m_produced = 0, m_needed = 0;
    std::array<quint16, 4096> m_length{}; // of the string each table code stands for
};

struct GifCloser {
    void operator()(GifFileType *gif) const { DGifCloseFile(gif, nullptr); }
};

// A run of rows handed out in bands: rows y0, y0 + dy, ...
struct Run {
    int y0, dy, rows;
};

class GifSource final : public PictureSource
{
public:
    GifSource(InputFile &file, const QString &path);

    void start(RowLayout layout, bool topDown) override;
    Band nextBand(int maxRows) override;
    void readBand(uchar *out, qsizetype stride) override;
    void finish() override;

private:
    static int input(GifFileType *gif, GifByteType *into, int n);
    [[noreturn]] void fail(int error);
    void readFrameHeader();
    void composeRow(uchar *out, int y);
    void readIndices();

    StreamReader m_reader;
    std::unique_ptr<GifFileType, GifCloser> m_gif;
    // What went wrong inside giflib's reads: giflib is C, so nothing is thrown through it.
    std::exception_ptr m_thrown;
    QString m_problem;
    bool m_cut = false;
    bool m_inCodes = false; // giflib is reading the frame's code stream
    uchar m_lastByte = 0;
    CodeCheck m_check;

    int m_left = 0, m_top = 0, m_frameWidth = 0, m_frameHeight = 0;
    int m_colours = 0; // of the frame's table: a power of two
    std::array<QRgb, 256> m_palette{};
    QRgb m_fill = 0;

    RowLayout m_layout = RowLayout::Bgrx32;
    std::array<quint32, 256> m_lookup{}; // the palette in m_layout
    std::vector<uchar> m_indices, m_fillRow;
    std::vector<Run> m_runs;
    size_t m_run = 0;
    int m_runDone = 0;
    Band m_band;
};

GifSource::GifSource(InputFile &file, const QString &path)
    : PictureSource(file, path), m_reader(file)
{
    int error = 0;
    m_gif.reset(DGifOpen(this, &GifSource::input, &error));
    if (!m_gif)
        fail(error);
    // The screen is the picture: its size is what is checked, however small the frame.
    m_width = m_gif->SWidth;
    m_height = m_gif->SHeight;
    checkDeclaredSize(path, m_width, m_height, file.size());
    readFrameHeader();
}

int GifSource::input(GifFileType *gif, GifByteType *into, int n)
{
    GifSource *self = static_cast<GifSource *>(gif->UserData);
    if (self->m_thrown || !self->m_problem.isEmpty())
        return 0;
    try {
        const qint64 got = self->m_reader.read(into, n);
        if (got > 0)
            self->m_lastByte = into[got - 1];
        if (self->m_inCodes && !self->m_check.feed(into, got)) {
            self->m_problem =
                QStringLiteral("is damaged (its first frame has code %1, past its table)")
                    .arg(self->m_check.badCode());
            return 0;
        }
        if (got == n)
            return n;
        // A file that ends after its frame's last pixel lacks only the end of the frame's
        // code stream: it reads as zeros, the frame's terminator among them. giflib needs
        // no more codes then, so none of the zeros becomes a pixel.
        if (self->m_inCodes && self->m_check.complete()) {
            std::memset(into + got, 0, size_t(n - got));
            return n;
        }
        self->m_cut = true;
        return int(got);
    } catch (...) {
        self->m_thrown = std::current_exception();
        return 0;
    }
}

void GifSource::fail(int error)
{
    if (m_thrown)
        std::rethrow_exception(m_thrown);
    if (!m_problem.isEmpty())
        throw damaged(m_path, m_problem);
    if (m_cut)
        throw damaged(m_path, QStringLiteral("is cut short"));
    if (error == D_GIF_ERR_NOT_ENOUGH_MEM)
        throw RunError::of(RunError::OutOfMemory, m_path);
    const char *what = GifErrorString(error);
    throw damaged(m_path, QStringLiteral("is damaged (%1)")
                              .arg(what ? QString::fromUtf8(what)
                                        : QStringLiteral("giflib error %1").arg(error)));
}

// Reads up to the first frame's pixels: its extensions (the last graphic control block
// says which palette entry is transparent), its descriptor and colour table.
void GifSource::readFrameHeader()
{
    GifFileType *gif = m_gif.get();
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            fail(gif->Error);
        if (type == TERMINATE_RECORD_TYPE)
            throw damaged(m_path, QStringLiteral("is damaged (it holds no picture)"));
        if (type == IMAGE_DESC_RECORD_TYPE)
            break;
        int label = 0;
        GifByteType *block = nullptr;
        if (DGifGetExtension(gif, &label, &block) == GIF_ERROR)
            fail(gif->Error);
        if (label == GRAPHICS_EXT_FUNC_CODE) {
            if (!block || block[0] < 4)
                throw damaged(m_path, QStringLiteral("is damaged (its graphic control block "
                                                     "is %1 bytes long)")
                                          .arg(block ? block[0] : 0));
            transparent = (block[1] & 1) ? block[4] : -1;
        }
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                fail(gif->Error);
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) {
        // giflib says "read failed" for a code size over 8 as well.
        if (!m_cut && !m_thrown && gif->Error == D_GIF_ERR_READ_FAILED)
            throw damaged(m_path,
                          QStringLiteral("is damaged (its code size is %1)").arg(m_lastByte));
        fail(gif->Error);
    }
    const GifImageDesc &d = gif->Image;
    m_left = d.Left;
    m_top = d.Top;
    m_frameWidth = d.Width;
    m_frameHeight = d.Height;
    m_interlaced = d.Interlace;
    if (m_frameWidth == 0 || m_frameHeight == 0)
        throw damaged(m_path, QStringLiteral("is damaged (its first frame is %1 x %2 pixels)")
                                  .arg(m_frameWidth)
                                  .arg(m_frameHeight));
    if (m_left + m_frameWidth > m_width || m_top + m_frameHeight > m_height)
        throw damaged(m_path, QStringLiteral("is damaged (its first frame, %1 x %2 pixels at "
                                             "%3, %4, lies outside its %5 x %6 screen)")
                                  .arg(m_frameWidth)
                                  .arg(m_frameHeight)
                                  .arg(m_left)
                                  .arg(m_top)
                                  .arg(m_width)
                                  .arg(m_height));
    const ColorMapObject *global = gif->SColorMap;
    const ColorMapObject *map = d.ColorMap ? d.ColorMap : global;
    if (!map)
        throw damaged(m_path, QStringLiteral("is damaged (it has no colour table)"));
    m_colours = map->ColorCount;
    for (int i = 0; i < m_colours; ++i)
        m_palette[size_t(i)] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);

    // As the window showed it through Qt: the transparent entry keeps its colour under
    // alpha 0, and where the frame is smaller than the screen the rest is the transparent
    // entry (white under alpha 0 when it is past the table, where no pixel may use it), else
    // the screen's background colour, else black. Qt looks that fill up in the frame's own
    // table before it has read it; here the background colour comes from the global table,
    // the one it indexes, and the transparent entry from the frame's.
    m_alpha = transparent >= 0;
    if (transparent >= 0 && transparent < m_colours)
        m_palette[size_t(transparent)] &= 0x00FFFFFF;
    const bool partial = m_frameWidth < m_width || m_frameHeight < m_height;
    if (transparent >= 0) {
        m_fill = transparent < m_colours ? m_palette[size_t(transparent)] : 0x00FFFFFF;
    } else if (global && partial) {
        const int bg = gif->SBackGroundColor;
        if (bg >= global->ColorCount)
            throw damaged(m_path, QStringLiteral("is damaged (its background colour %1 is past "
                                                 "its table of %2)")
                                      .arg(bg)
                                      .arg(global->ColorCount));
        m_fill = qRgb(global->Colors[bg].Red, global->Colors[bg].Green, global->Colors[bg].Blue);
    } else {
        m_fill = qRgb(0, 0, 0);
    }
    m_native = m_alpha ? RowLayout::Bgra32 : RowLayout::Bgrx32;

    // The code size giflib has just read is the last byte handed to it; the code stream
    // follows.
    m_check.start(m_lastByte, qint64(m_frameWidth) * m_frameHeight);
    m_inCodes = true;
}

void GifSource::start(RowLayout layout, bool)
{
    m_layout = layout;
    const int bpp = bytesPerPixel(layout);
    const auto inLayout = [layout](QRgb c) {
        return layout == RowLayout::Bgrx32 ? c | 0xFF000000u : quint32(c);
    };
    for (size_t i = 0; i < m_lookup.size(); ++i)
        m_lookup[i] = inLayout(m_palette[i]);
    m_fillRow.resize(size_t(m_width) * size_t(bpp));
    const quint32 fill = inLayout(m_fill);
    for (int x = 0; x < m_width; ++x)
        std::memcpy(m_fillRow.data() + size_t(x) * size_t(bpp), &fill, size_t(bpp));
    m_indices.resize(size_t(m_frameWidth));

    // Rows of an interlaced frame come in the file's passes, after the fill above and
    // below the frame.
    const int below = m_top + m_frameHeight;
    if (!m_interlaced) {
        m_runs = {{0, 1, m_height}};
        return;
    }
    m_runs = {{0, 1, m_top}, {below, 1, m_height - below}};
    static constexpr std::pair<int, int> passes[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto &[first, step] : passes)
        if (first < m_frameHeight)
            m_runs.push_back({m_top + first, step, (m_frameHeight - first + step - 1) / step});
}

Band GifSource::nextBand(int maxRows)
{
    while (m_run < m_runs.size() && m_runDone == m_runs[m_run].rows) {
        ++m_run;
        m_runDone = 0;
    }
    m_band = Band{};
    m_band.pixels = m_width;
    if (m_run == m_runs.size())
        return m_band;
    const Run &run = m_runs[m_run];
    m_band.y0 = run.y0 + m_runDone * run.dy;
    m_band.dy = run.dy;
    m_band.rows = std::min(std::max(maxRows, 1), run.rows - m_runDone);
    m_runDone += m_band.rows;
    return m_band;
}

void GifSource::readBand(uchar *out, qsizetype stride)
{
    for (int r = 0; r < m_band.rows; ++r)
        composeRow(out + r * stride, m_band.y0 + r * m_band.dy);
}

// The frame's next row of palette indices, each one in the frame's table.
void GifSource::readIndices()
{
    GifFileType *gif = m_gif.get();
    if (DGifGetLine(gif, m_indices.data(), m_frameWidth) == GIF_ERROR)
        fail(gif->Error);
    // Tables have a power of two entries: an index past the table has a bit above them.
    uchar any = 0;
    for (const uchar i : m_indices)
        any |= i;
    if ((any & ~(m_colours - 1)) != 0) {
        const uchar bad = *std::find_if(m_indices.begin(), m_indices.end(),
                                        [this](uchar i) { return i >= m_colours; });
        throw damaged(m_path, QStringLiteral("is damaged (a pixel has colour %1, past its "
                                             "table of %2)")
                                  .arg(bad)
                                  .arg(m_colours));
    }
}

void GifSource::composeRow(uchar *out, int y)
{
    const size_t bpp = size_t(bytesPerPixel(m_layout));
    if (y < m_top || y >= m_top + m_frameHeight) {
        std::memcpy(out, m_fillRow.data(), m_fillRow.size());
        return;
    }
    readIndices();
    const size_t left = size_t(m_left) * bpp, right = size_t(m_left + m_frameWidth) * bpp;
    std::memcpy(out, m_fillRow.data(), left);
    std::memcpy(out + right, m_fillRow.data() + right, m_fillRow.size() - right);
    const uchar *index = m_indices.data();
    const int n = m_frameWidth;
    if (m_layout == RowLayout::Bgr24) {
        uchar *p = out + left;
        for (int i = 0; i < n; ++i, p += 3) {
            const quint32 c = m_lookup[index[i]];
            p[0] = uchar(c);
            p[1] = uchar(c >> 8);
            p[2] = uchar(c >> 16);
        }
    } else {
        quint32 *p = reinterpret_cast<quint32 *>(out + left);
        for (int i = 0; i < n; ++i)
            p[i] = m_lookup[index[i]];
    }
}

void GifSource::finish()
{
    m_file.checkUnchanged();
}

} // namespace

std::unique_ptr<PictureSource> openGif(InputFile &file, const QString &path)
{
    return std::make_unique<GifSource>(file, path);
}
