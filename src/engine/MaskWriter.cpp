#include "MaskWriter.h"

#include "PictureChecks.h"
#include "PngErrors.h"
#include "RunError.h"

#include <QtEndian>

#include <png.h>
#include <zlib.h>

#include <climits>
#include <csetjmp>
#include <cstring>
#include <optional>

namespace
{

// BMP rows are stored bottom-up and padded to whole 32-bit words; bands are written where
// their rows belong, so the mask is the same whichever order the sprite's rows came in.
class BmpSink final : public MaskSink
{
public:
    BmpSink(const MaskTarget &target, int depth, int width, int height, QRgb mask, QRgb transparent,
            std::vector<uchar> &buffer)
        : MaskSink(target, depth, width, height, qsizetype(((qint64(width) * depth + 31) / 32) * 4),
                   buffer)
    {
        const int colours = depth == 1 ? 2 : 0;
        m_front = 54 + 4 * colours;
        if (m_front + qint64(m_rowBytes) * height > INT_MAX)
            throw RunError::of(RunError::OutOfMemory, target.path);
        bmpHeader(width, height, depth, colours, m_header);
        qToLittleEndian<quint32>(mask & 0xFFFFFF, m_header + 54); // blue, green, red, 0
        qToLittleEndian<quint32>(transparent & 0xFFFFFF, m_header + 58);
    }

    bool takesBottomUp() const override { return true; }

    void endBand() override
    {
        // Padding bytes are zero, as the window writes them.
        const qsizetype used = qsizetype((qint64(m_width) * m_depth + 7) / 8);
        for (int r = 0; r < m_bandRows; ++r)
            std::memset(row(r) + used, 0, size_t(m_rowBytes - used));
        const int lowest = m_dy > 0 ? m_y0 + m_bandRows - 1 : m_y0;
        const qint64 at = m_front + qint64(m_height - 1 - lowest) * m_rowBytes;
        // The band that starts the file takes the header along: a small mask is one write.
        const bool first = at == m_front;
        if (first)
            std::memcpy(m_rows.data(), m_header, size_t(m_front));
        const qsizetype skip = first ? 0 : m_front;
        m_out.writeAt(at - m_front + skip, reinterpret_cast<const char *>(m_rows.data() + skip),
                      m_front - skip + m_bandRows * m_rowBytes);
    }

    void commit() override { m_out.commit(); }

private:
    // The slots run in the file's order: a band going down is stored backwards.
    qsizetype slot(int r) const override { return m_dy > 0 ? m_bandRows - 1 - r : r; }

    char m_header[54 + 8];
};

// Everything the PNG write changes lives here, reached through a pointer libpng holds, so
// nothing is lost to the longjmp that libpng's errors end in. A failed write of the file
// is kept and raised again once libpng has been left.
struct PngState {
    WholeFileWriter *out;
    std::optional<RunError> failure;
    QString complaint;
};

void pngWrite(png_structp png, png_bytep data, png_size_t size)
{
    auto *state = static_cast<PngState *>(png_get_io_ptr(png));
    try {
        state->out->write(reinterpret_cast<const char *>(data), qsizetype(size));
        return;
    } catch (const RunError &e) {
        state->failure = e;
    }
    // Outside the handler: the longjmp must not skip the end of a caught exception.
    png_error(png, "write failed");
}

void pngFlush(png_structp) {}

// Two-colour pictures: runs of one byte value are nearly all there is, which zlib's run
// strategy at its fastest level finds as well as its thorough ones, in a fraction of the
// time. 24-bit rows are filtered by their left neighbour, which turns every run of one
// colour into zeros whatever the colour's bytes.
class PngSink final : public MaskSink
{
public:
    PngSink(const MaskTarget &target, int depth, int width, int height, QRgb mask, QRgb transparent,
            std::vector<uchar> &buffer)
        : MaskSink(target, depth, width, height,
                   depth == 1 ? qsizetype((width + 7) / 8) : qsizetype(width) * 3, buffer)
    {
        m_state.out = &m_out;
        m_png = m_structs.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_state.complaint,
                                                        keepPngComplaint, ignorePngWarning);
        m_info = m_structs.info = m_png ? png_create_info_struct(m_png) : nullptr;
        if (!m_info)
            throw RunError::of(RunError::OutOfMemory, target.path);
        if (setjmp(png_jmpbuf(m_png)) == 0) {
            png_set_write_fn(m_png, &m_state, pngWrite, pngFlush);
            png_set_IHDR(m_png, m_info, png_uint_32(width), png_uint_32(height), depth == 1 ? 1 : 8,
                         depth == 1 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                         PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            if (depth == 1) {
                png_color palette[2] = {
                    {png_byte(qRed(mask)), png_byte(qGreen(mask)), png_byte(qBlue(mask))},
                    {png_byte(qRed(transparent)), png_byte(qGreen(transparent)),
                     png_byte(qBlue(transparent))}};
                png_set_PLTE(m_png, m_info, palette, 2);
            }
            png_set_filter(m_png, PNG_FILTER_TYPE_BASE,
                           depth == 1 ? PNG_FILTER_NONE : PNG_FILTER_SUB);
            png_set_compression_level(m_png, 1);
            png_set_compression_strategy(m_png, Z_RLE);
            png_write_info(m_png, m_info);
            if (depth != 1)
                png_set_bgr(m_png);
            m_ok = true;
        }
        raiseIfFailed();
    }

    bool takesBottomUp() const override { return false; }

    void endBand() override
    {
        m_ok = false;
        if (setjmp(png_jmpbuf(m_png)) == 0) {
            for (int r = 0; r < m_bandRows; ++r)
                png_write_row(m_png, row(r));
            m_ok = true;
        }
        raiseIfFailed();
    }

    void commit() override
    {
        m_ok = false;
        if (setjmp(png_jmpbuf(m_png)) == 0) {
            png_write_end(m_png, nullptr);
            m_ok = true;
        }
        raiseIfFailed();
        m_out.commit();
    }

private:
    void raiseIfFailed()
    {
        if (m_state.failure)
            throw *m_state.failure;
        if (!m_ok)
            throw RunError::of(RunError::OutOfMemory,
                               m_path + QStringLiteral(" (") + m_state.complaint + ')');
    }

    // Destroyed also when the constructor fails.
    struct Structs {
        png_structp png = nullptr;
        png_infop info = nullptr;
        ~Structs()
        {
            if (png)
                png_destroy_write_struct(&png, &info);
        }
    } m_structs;
    PngState m_state;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    volatile bool m_ok = false;
};

} // namespace

MaskSink::MaskSink(const MaskTarget &target, int depth, int width, int height, qsizetype rowBytes,
                   std::vector<uchar> &buffer)
    : m_out(target.fd >= 0 ? WholeFileWriter(target.fd, target.path)
                           : WholeFileWriter(target.path, target.existing)),
      m_path(target.path), m_depth(depth), m_width(width), m_height(height), m_rowBytes(rowBytes),
      m_rows(buffer)
{
}

std::unique_ptr<MaskSink> MaskSink::create(const MaskTarget &target, MaskOutput kind, int width,
                                           int height, QRgb mask, QRgb transparent,
                                           std::vector<uchar> &buffer)
{
    const int depth = kind.depth == 1 ? 1 : 24;
    if (kind.format == MaskFormat::Png)
        return std::make_unique<PngSink>(target, depth, width, height, mask, transparent, buffer);
    return std::make_unique<BmpSink>(target, depth, width, height, mask, transparent, buffer);
}

void MaskSink::beginBand(int y0, int dy, int rows)
{
    m_y0 = y0;
    m_dy = dy;
    m_bandRows = rows;
    if (m_rows.size() < size_t(m_front + rows * m_rowBytes))
        m_rows.resize(size_t(m_front + rows * m_rowBytes));
}

void packMaskBits(const uchar *bgr, qint64 count, quint32 mask, uchar *bits)
{
    const uchar b = uchar(mask), g = uchar(mask >> 8), r = uchar(mask >> 16);
    for (qint64 x = 0; x < count; x += 8) {
        uchar byte = 0;
        for (int k = 0; k < 8 && x + k < count; ++k) {
            const uchar *p = bgr + 3 * (x + k);
            byte |= uchar((p[0] != b || p[1] != g || p[2] != r) << (7 - k));
        }
        bits[x / 8] = byte;
    }
}
