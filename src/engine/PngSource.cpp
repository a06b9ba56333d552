#include "PictureSource.h"

#include "PictureChecks.h"
#include "PngErrors.h"
#include "RunError.h"

#include <png.h>

#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <vector>

// libpng reports its errors by longjmp. Every entry point that calls into libpng sets the
// jump target itself, and only plain C frames and objects without destructors may lie
// between it and libpng: what the calls change lives in PngReader, behind a pointer, and a
// complaint becomes a RunError only once the jump has landed.

namespace
{

constexpr png_uint_32 chunkType(const char (&name)[5])
{
    return png_uint_32(uchar(name[0])) << 24 | png_uint_32(uchar(name[1])) << 16 |
           png_uint_32(uchar(name[2])) << 8 | png_uint_32(uchar(name[3]));
}

constexpr png_uint_32 IdatChunk = chunkType("IDAT"), TrnsChunk = chunkType("tRNS");

// Chunks that change none of the pixels made here (no gamma, background or bit-shift
// transform is asked for), so libpng need not parse them: a colour profile that does not
// quite agree with the picture, which paint programs write all the time, then costs
// nothing. libpng still reads them through, and their CRC must still be right.
constexpr png_byte PixelNeutralChunks[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0"
                                          "pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
constexpr int PixelNeutralCount = int(sizeof PixelNeutralChunks / 5);

// Everything a call into libpng changes, kept where libpng's longjmp cannot skip it.
struct PngReader {
    explicit PngReader(InputFile &file) : stream(file) {}
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;

    StreamReader stream;
    png_structp png = nullptr;
    png_infop info = nullptr;
    QString complaint;              // libpng's first, or the reader's own
    std::exception_ptr fileFailure; // the file's own error, raised once libpng is left
    bool afterPixels = false;       // every row has been read: no image data may follow
};

// A warning is damage, unless it concerns an ancillary chunk that changes no pixel.
void judgePngWarning(png_structp png, png_const_charp message)
{
    const png_uint_32 chunk = png_get_io_chunk_type(png);
    const bool ancillary = (chunk & 0x20000000u) != 0;
    if (ancillary && chunk != TrnsChunk)
        return;
    keepPngComplaint(png, message);
}

void readBytes(png_structp png, png_bytep out, size_t size)
{
    auto *reader = static_cast<PngReader *>(png_get_io_ptr(png));
    qint64 got = 0;
    try {
        got = reader->stream.read(out, qint64(size));
    } catch (...) {
        reader->fileFailure = std::current_exception();
    }
    if (reader->fileFailure)
        png_error(png, "the file could not be read");
    if (got < qint64(size))
        png_error(png, "cut short");
    // libpng 1.6 ignores IDAT chunks after the end of the compressed stream; they are
    // image data that no row holds.
    if (reader->afterPixels && size == 8 &&
        (png_get_io_state(png) & PNG_IO_MASK_LOC) == PNG_IO_CHUNK_HDR &&
        qFromBigEndian<quint32>(out + 4) == IdatChunk && qFromBigEndian<quint32>(out) != 0)
        png_error(png, "IDAT: image data after the last row");
}

class PngSource final : public PictureSource
{
public:
    PngSource(InputFile &file, const QString &path) : PictureSource(file, path) {}

    void open();
    void start(RowLayout layout, bool topDown) override;
    Band nextBand(int maxRows) override;
    void readBand(uchar *out, qsizetype stride) override;
    void finish() override;

private:
    [[noreturn]] void fail();
    void readHeader(png_uint_32 &w, png_uint_32 &h, int &colourType, int &interlace);
    void setTransforms(RowLayout layout);
    void readRows(uchar *out, qsizetype stride);
    void expandIndices(const uchar *in, uchar *out, int count);
    int passRows(int pass) const;

    std::unique_ptr<PngReader> m_reader;
    RowLayout m_layout = RowLayout::Bgrx32;
    Band m_band;
    int m_pass = 0;           // of an interlaced file, 0 to 6; 7 when done
    int m_next = 0;           // the next row to read: of the picture, or of the pass
    std::vector<uchar> m_row; // a whole row, as libpng writes even a pass's rows
    // A palette file's colours in the layout, each 4 bytes apart; libpng hands out its
    // indices, which can then be checked against the palette's length.
    bool m_indexed = false;
    int m_colours = 0;
    uchar m_palette[256][4] = {};
};

// What ended in libpng's longjmp, raised now that libpng's frames are gone.
void PngSource::fail()
{
    const PngReader &r = *m_reader;
    if (r.fileFailure)
        std::rethrow_exception(r.fileFailure);
    if (r.complaint.startsWith(QLatin1String("Out of memory"), Qt::CaseInsensitive))
        throw RunError::of(RunError::OutOfMemory, m_path);
    throw damaged(m_path, QStringLiteral("is damaged (%1)").arg(r.complaint));
}

void PngSource::readHeader(png_uint_32 &w, png_uint_32 &h, int &colourType, int &interlace)
{
    png_structp png = m_reader->png;
    png_set_read_fn(png, m_reader.get(), readBytes);
    png_set_benign_errors(png, 0);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    // The declared size is judged by checkDeclaredSize, against the file's length.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, PixelNeutralChunks, PixelNeutralCount);
    png_read_info(png, m_reader->info);
    int depth = 0;
    png_get_IHDR(png, m_reader->info, &w, &h, &depth, &colourType, &interlace, nullptr, nullptr);
    png_colorp colours = nullptr;
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE &&
        png_get_PLTE(png, m_reader->info, &colours, &m_colours) != 0) {
        png_get_tRNS(png, m_reader->info, &alphas, &alphaCount, nullptr);
        for (int i = 0; i < m_colours; ++i) {
            m_palette[i][0] = colours[i].blue;
            m_palette[i][1] = colours[i].green;
            m_palette[i][2] = colours[i].red;
            m_palette[i][3] = i < alphaCount ? alphas[i] : 0xFF;
        }
    }
}

void PngSource::open()
{
    // libpng calls a width or height of 0 damage; it is a picture of no pixels.
    uchar head[24];
    if (m_file.size() >= qint64(sizeof head)) {
        m_file.readAt(0, reinterpret_cast<char *>(head), sizeof head);
        const quint32 w = qFromBigEndian<quint32>(head + 16),
                      h = qFromBigEndian<quint32>(head + 20);
        if (std::memcmp(head + 12, "IHDR", 4) == 0 && (w == 0 || h == 0))
            throw invalidSize(m_path, w, h);
    }

    m_reader = std::make_unique<PngReader>(m_file);
    PngReader &r = *m_reader;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r.complaint, keepPngComplaint,
                                   judgePngWarning);
    if (r.png)
        r.info = png_create_info_struct(r.png);
    if (!r.info)
        throw RunError::of(RunError::OutOfMemory, m_path);
    png_uint_32 w = 0, h = 0;
    int colourType = 0, interlace = 0;
    if (setjmp(png_jmpbuf(r.png)) != 0)
        fail();
    readHeader(w, h, colourType, interlace);

    checkDeclaredSize(m_path, w, h, m_file.size());
    m_width = int(w);
    m_height = int(h);
    m_alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 ||
              png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
    // libpng adds an alpha or filler byte in a pass of its own.
    m_native = m_alpha ? RowLayout::Bgra32 : RowLayout::Bgr24;
    m_interlaced = interlace != PNG_INTERLACE_NONE;
    m_indexed = colourType == PNG_COLOR_TYPE_PALETTE;
    m_reversible = false;
    m_topDown = true;
}

void PngSource::setTransforms(RowLayout layout)
{
    png_structp png = m_reader->png;
    if (m_indexed) {
        png_set_packing(png); // an index a byte
    } else {
        png_set_expand(png); // tRNS to alpha, 1, 2 and 4-bit gray to 8 bits
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        if (layout != RowLayout::Bgra32 && m_alpha)
            png_set_strip_alpha(png);
        if (layout == RowLayout::Bgrx32 || (layout == RowLayout::Bgra32 && !m_alpha))
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_read_update_info(png, m_reader->info);
    if (png_get_rowbytes(png, m_reader->info) !=
        size_t(m_width) * (m_indexed ? 1 : bytesPerPixel(layout)))
        png_error(png, "unexpected row size");
}

void PngSource::start(RowLayout layout, bool)
{
    m_layout = layout;
    if (setjmp(png_jmpbuf(m_reader->png)) != 0)
        fail();
    setTransforms(layout);
    if (m_indexed) {
        if (layout == RowLayout::Bgrx32)
            for (uchar(&c)[4] : m_palette)
                c[3] = 0xFF;
        m_row.resize(size_t(m_width));
    } else if (m_interlaced) {
        m_row.resize(size_t(m_width) * size_t(bytesPerPixel(layout)));
    }
}

// The rows of an Adam7 pass; none where the pass has no columns, as libpng skips it.
int PngSource::passRows(int pass) const
{
    if (PNG_PASS_COLS(png_uint_32(m_width), pass) == 0)
        return 0;
    return int(PNG_PASS_ROWS(png_uint_32(m_height), pass));
}

Band PngSource::nextBand(int maxRows)
{
    maxRows = std::max(1, maxRows);
    Band b;
    if (!m_interlaced) {
        b.y0 = m_next;
        b.rows = std::min(maxRows, m_height - m_next);
        b.pixels = m_width;
    } else {
        while (m_pass < 7 && m_next >= passRows(m_pass)) {
            ++m_pass;
            m_next = 0;
        }
        if (m_pass < 7) {
            b.dy = 1 << PNG_PASS_ROW_SHIFT(m_pass);
            b.y0 = int(PNG_PASS_START_ROW(m_pass)) + m_next * b.dy;
            b.rows = std::min(maxRows, passRows(m_pass) - m_next);
            b.x0 = int(PNG_PASS_START_COL(m_pass));
            b.dx = 1 << PNG_PASS_COL_SHIFT(m_pass);
            b.pixels = int(PNG_PASS_COLS(png_uint_32(m_width), m_pass));
        }
    }
    m_band = b;
    return b;
}

void PngSource::expandIndices(const uchar *in, uchar *out, int count)
{
    uchar top = 0;
    if (m_layout == RowLayout::Bgr24) {
        for (int i = 0; i < count; ++i, out += 3) {
            top = std::max(top, in[i]);
            std::memcpy(out, m_palette[in[i]], 3);
        }
    } else {
        for (int i = 0; i < count; ++i, out += 4) {
            top = std::max(top, in[i]);
            std::memcpy(out, m_palette[in[i]], 4);
        }
    }
    if (top >= m_colours)
        throw damaged(m_path, QStringLiteral("is damaged (colour %1 past its palette of %2)")
                                  .arg(top)
                                  .arg(m_colours));
}

void PngSource::readRows(uchar *out, qsizetype stride)
{
    png_structp png = m_reader->png;
    const size_t bytes = size_t(m_band.pixels) * size_t(bytesPerPixel(m_layout));
    for (int r = 0; r < m_band.rows; ++r) {
        uchar *row = out + r * stride;
        // libpng writes a row of the whole width even for a pass's narrower rows.
        if (m_indexed) {
            png_read_row(png, m_row.data(), nullptr);
            expandIndices(m_row.data(), row, m_band.pixels);
        } else if (m_interlaced) {
            png_read_row(png, m_row.data(), nullptr);
            std::memcpy(row, m_row.data(), bytes);
        } else {
            png_read_row(png, row, nullptr);
        }
    }
}

void PngSource::readBand(uchar *out, qsizetype stride)
{
    if (setjmp(png_jmpbuf(m_reader->png)) != 0)
        fail();
    readRows(out, stride);
    m_next += m_band.rows;
    m_band.rows = 0;
}

void PngSource::finish()
{
    m_reader->afterPixels = true;
    if (setjmp(png_jmpbuf(m_reader->png)) != 0)
        fail();
    png_read_end(m_reader->png, m_reader->info);
    m_file.checkUnchanged();
}

} // namespace

std::unique_ptr<PictureSource> openPng(InputFile &file, const QString &path)
{
    auto source = std::make_unique<PngSource>(file, path);
    source->open();
    return source;
}
