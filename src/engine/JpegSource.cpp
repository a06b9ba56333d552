#include "PictureSource.h"

#include "PictureChecks.h"
#include "RunError.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers
#include <cstring>
#include <exception>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

// JPEG through libjpeg(-turbo)'s scan lines, with the settings Qt's JPEG plugin decodes
// with, so the window shows the pixels it always showed: libjpeg's defaults (accurate
// integer IDCT, fancy upsampling, block smoothing), grey and colour converted by libjpeg,
// CMYK and YCCK taken as Adobe's inverted CMYK and multiplied out by the black channel.
// libjpeg's colour conversion writes the layout the caller asks for; the 32-bit layouts
// come out of JCS_EXT_BGRX, whose fourth byte libjpeg sets to 0xFF.

namespace
{

// A Huffman-coded JPEG spends at least one bit on each 8 x 8 block of a component at full
// resolution (the DC code), so no such file describes more than 512 pixels per byte; real
// encoders stay at or below 256 (two bits a block: a flat grey picture from ImageMagick,
// Pillow or Qt, baseline or progressive, measures 254 to 255; flat colour 4:2:0 about 170,
// 4:4:4 about 85). Twice the hard bound leaves room for headers of odd encoders.
constexpr qint64 HuffmanPixelsPerByte = 1024;
// Arithmetic coding adapts to a flat picture and spends a small fraction of a bit on a
// block (a flat 4096 x 4096 takes 208 bytes), so no bound per byte fits it: an
// arithmetic-coded file over the Huffman bound is decoded once without keeping its pixels
// before anything of its size is allocated (see openJpeg).

// What libjpeg may allocate for one file. A progressive (or multi-scan) file is decoded
// into a whole-picture buffer of coefficients first: 128 bytes per 8 x 8 block of every
// component, 2 bytes a pixel for grey, 3 for 4:2:0 colour, 6 for 4:4:4. The scan scripts
// of real encoders spend at least two bits on each block (flat grey, progressive, measures
// 254 pixels per byte: 508 bytes of coefficients per byte of file; flat 4:2:0 169 pixels,
// 507 bytes), so 512 bytes per byte of file lets every real file through; the base is for
// libjpeg's tables and row buffers. A file under 64 KiB thus costs at most 40 MiB, whatever
// it declares. A file that declares a progressive 16384 x
// 16384 and is padded past the bound per byte is still refused before libjpeg allocates
// the 0.8 to 1.5 GiB it asks for: libjpeg wants backing store, which is out of memory here.
// Baseline files need a few rows only.
constexpr qint64 BaseMemory = 8 << 20;
constexpr qint64 MemoryPerFileByte = 512;

const JOCTET EndMarker[2] = {0xFF, JPEG_EOI};
const JOCTET ZeroByte[1] = {0};

// Arithmetic-coded data may end early: its encoder drops the zero bytes it would end with,
// and the decoder reads zeros in their place. A flat picture ends in such zeros but costs
// little: every flat sheet from 1024 x 1024 to 8192 x 8192 takes the same 20-odd bytes,
// and its decoder reads 5 to 20 zeros past them (noise: 2). A file cut short and closed
// with an end marker has its lost pixels made up from zeros, and those cost the decoder
// their share: a noisy 256 x 256 cut to 99.5 % reads 152, cut to 90 % 2,629. A scan may
// read this many zeros, and one more for each mebipixel; past that its data ended before
// its last pixel, as a Huffman-coded scan's does when libjpeg warns it hit a marker.
constexpr int ZerosPerScan = 64;

class JpegSource final : public PictureSource
{
public:
    JpegSource(InputFile &file, const QString &path);
    ~JpegSource() override;

    // Reads the headers; false for an arithmetic-coded file that declares more pixels than
    // the bound per byte, which must prove itself first unless `trusted`.
    bool readHeader(bool trusted);
    void prove();
    void start(RowLayout layout, bool topDown) override;
    Band nextBand(int maxRows) override;
    void readBand(uchar *out, qsizetype stride) override;
    void finish() override;

private:
    // Runs libjpeg calls. libjpeg's errors and warnings longjmp back here (over C frames
    // and over callbacks that own nothing), and only then become a RunError.
    template <typename Call> void guarded(Call call);
    [[noreturn]] void raise();
    [[noreturn]] void complain(j_common_ptr cinfo);
    bool fill();
    qint64 handOut(qint64 n) const;
    void skip(long bytes);
    bool endIsWhole() const;
    void checkEnd();
    void readCmykRows(uchar *out, qsizetype stride, int rows);

    jpeg_decompress_struct m_info{};
    jpeg_error_mgr m_errors{};
    jpeg_source_mgr m_source{};
    bool m_created = false;
    std::jmp_buf m_jump;
    int m_code = 0;
    char m_message[JMSG_LENGTH_MAX] = {};
    std::exception_ptr m_failure; // a read of the file that failed under libjpeg
    StreamReader m_reader;
    // The rest of the chunk last taken from m_reader, not yet handed to libjpeg.
    const uchar *m_pending = nullptr;
    qint64 m_pendingBytes = 0;
    // Zeros handed to an arithmetic decoder in place of the marker that ended its data,
    // in scan number m_zerosScan.
    int m_zerosScan = 0;
    qint64 m_zeros = 0, m_zerosAllowed = 0;
    bool m_endReached = false, m_endChecked = false;
    bool m_cmyk = false;
    RowLayout m_layout = RowLayout::Bgr24;
    int m_row = 0, m_bandRows = 0;
    std::vector<JSAMPROW> m_rowPointers;
    std::vector<JSAMPLE> m_cmykRow;
};

JpegSource *sourceOf(j_common_ptr cinfo)
{
    return static_cast<JpegSource *>(cinfo->client_data);
}

JpegSource::JpegSource(InputFile &file, const QString &path)
    : PictureSource(file, path), m_reader(file)
{
    m_native = RowLayout::Bgr24;
}

JpegSource::~JpegSource()
{
    if (m_created)
        jpeg_destroy_decompress(&m_info);
}

template <typename Call> void JpegSource::guarded(Call call)
{
    if (setjmp(m_jump) == 0)
        call();
    else
        raise();
}

void JpegSource::complain(j_common_ptr cinfo)
{
    m_code = cinfo->err->msg_code;
    cinfo->err->format_message(cinfo, m_message);
    std::longjmp(m_jump, 1);
}

void JpegSource::raise()
{
    if (m_failure)
        std::rethrow_exception(m_failure);
    const QString message = QString::fromLocal8Bit(m_message);
    switch (m_code) {
    case JERR_EMPTY_IMAGE:
        if (m_info.image_width == 0 || m_info.image_height == 0)
            throw invalidSize(m_path, m_info.image_width, m_info.image_height);
        break;
    case JERR_NO_BACKING_STORE: // what libjpeg says when it is over max_memory_to_use
        throw RunError::of(RunError::OutOfMemory,
                           QStringLiteral("%1 needs more memory for its %2 x %3 pixels in several "
                                          "scans than its %4 bytes justify")
                               .arg(m_path)
                               .arg(m_info.image_width)
                               .arg(m_info.image_height)
                               .arg(m_file.size()));
    case JERR_OUT_OF_MEMORY:
        throw RunError::of(RunError::OutOfMemory, m_path + QStringLiteral(" (") + message + ')');
    case JERR_BAD_PRECISION: // 12 and 16 bits are JPEGs too, other depths damage
        if (m_info.data_precision != 12 && m_info.data_precision != 16)
            break;
        [[fallthrough]];
    case JERR_SOF_UNSUPPORTED:
    case JERR_CONVERSION_NOTIMPL:
        throw RunError::of(RunError::InvalidPicture,
                           m_path +
                               QStringLiteral(" is a JPEG of a kind Pelloran does not read (") +
                               message + ')');
    }
    throw damaged(m_path, QStringLiteral("is damaged (") + message + ')');
}

// Hands libjpeg the next chunk of the file. At the file's end it gets an end marker once,
// as libjpeg's own sources do; whether the data before it was whole is decided by
// endIsWhole(). Wanting more after that means the file was cut inside a marker.
//
// An arithmetic decoder that reaches a marker reads zeros from then on. Here it is handed
// those zeros itself, one at a time and counted, so data goes out only up to each marker:
// the marker reader finds it once the scan's last row is decoded.
bool JpegSource::fill()
{
    if (m_pendingBytes == 0) {
        qint64 n = 0;
        const uchar *bytes = nullptr;
        try {
            bytes = m_reader.next(n);
        } catch (...) {
            m_failure = std::current_exception();
        }
        if (m_failure)
            std::longjmp(m_jump, 1);
        if (n == 0) {
            if (m_endReached) {
                m_errors.msg_code = JWRN_JPEG_EOF;
                complain(reinterpret_cast<j_common_ptr>(&m_info));
            }
            m_endReached = true;
            bytes = EndMarker;
            n = 2;
        }
        m_pending = bytes;
        m_pendingBytes = n;
    }
    const qint64 n = handOut(m_pendingBytes);
    if (n == 0) { // a marker, and the decoder still has rows to decode
        if (m_info.input_scan_number != m_zerosScan) {
            m_zerosScan = m_info.input_scan_number;
            m_zeros = 0;
            m_zerosAllowed = ZerosPerScan + qint64(m_width) * m_height / (1 << 20);
            // A progressive scan that refines DC spends one bit of even odds on each
            // block: on a flat area every such bit is 0, and the encoder drops them all.
            if (m_info.progressive_mode && m_info.Ss == 0 && m_info.Ah > 0)
                for (int c = 0; c < m_info.comps_in_scan; ++c)
                    m_zerosAllowed += qint64(m_info.cur_comp_info[c]->width_in_blocks) *
                                      m_info.cur_comp_info[c]->height_in_blocks / 8;
        }
        if (++m_zeros > m_zerosAllowed) {
            m_errors.msg_code = JWRN_HIT_MARKER;
            complain(reinterpret_cast<j_common_ptr>(&m_info));
        }
        m_source.next_input_byte = ZeroByte;
        m_source.bytes_in_buffer = 1;
        return TRUE;
    }
    m_source.next_input_byte = m_pending;
    m_source.bytes_in_buffer = size_t(n);
    m_pending += n;
    m_pendingBytes -= n;
    return TRUE;
}

// How many of the `n` pending bytes libjpeg gets: those before the next marker other than a
// restart marker (a decoder takes those in its stride), so that an arithmetic decoder asks
// for more where its data ends; none when such a marker starts them and an arithmetic
// decoder has rows of its scan left (fill() hands it a zero then).
qint64 JpegSource::handOut(qint64 n) const
{
    const uchar *p = m_pending;
    for (qint64 i = 0; i < n; ++i) {
        const void *ff = std::memchr(p + i, 0xFF, size_t(n - i));
        if (!ff)
            break;
        i = static_cast<const uchar *>(ff) - p;
        qint64 j = i;
        while (j < n && p[j] == 0xFF) // fill bytes may stand before a marker
            ++j;
        if (j == n)
            return i > 0 ? i : n; // a marker split across chunks goes as it comes
        if (p[j] == 0 || (p[j] >= JPEG_RST0 && p[j] <= JPEG_RST0 + 7)) {
            i = j;
            continue;
        }
        if (i > 0)
            return i;
        const bool decoding = m_info.arith_code && m_info.input_iMCU_row < m_info.total_iMCU_rows;
        if (decoding)
            return 0;
        i = j; // the marker itself goes to the marker reader, with the data after it
    }
    return n;
}

void JpegSource::skip(long bytes)
{
    while (bytes > long(m_source.bytes_in_buffer)) {
        bytes -= long(m_source.bytes_in_buffer);
        fill();
    }
    if (bytes > 0) {
        m_source.next_input_byte += bytes;
        m_source.bytes_in_buffer -= size_t(bytes);
    }
}

// Whether a file that ends without its end marker still held every pixel. libjpeg then
// read the end marker fill() made up. Inside Huffman-coded data that marker cuts the
// data short, which libjpeg warns about whenever it needed a bit past it; without a
// warning the data was complete. What libjpeg cannot see is a scan that never came: a
// single-scan file has none to miss, a progressive one must have brought every
// coefficient down to its last bit. Arithmetic-coded data reads on past its end by design,
// and a sequential file in several scans gives no sign of a missing one: both are refused.
bool JpegSource::endIsWhole() const
{
    if (m_info.arith_code)
        return false;
    if (!m_info.progressive_mode)
        return m_info.comps_in_scan == m_info.num_components && m_info.input_scan_number == 1;
    if (!m_info.coef_bits)
        return false;
    for (int c = 0; c < m_info.num_components; ++c)
        for (int k = 0; k < DCTSIZE2; ++k)
            if (m_info.coef_bits[c][k] != 0)
                return false;
    return true;
}

// Once, when the end has been reached: a progressive or multi-scan file reaches it in
// start(), while coef_bits still exists (jpeg_finish_decompress frees it), a single-scan
// one in finish().
void JpegSource::checkEnd()
{
    if (!m_endReached || m_endChecked)
        return;
    m_endChecked = true;
    if (!endIsWhole())
        throw damaged(m_path, QStringLiteral("is damaged (Premature end of JPEG file)"));
}

bool JpegSource::readHeader(bool trusted)
{
    m_info.err = jpeg_std_error(&m_errors);
    m_errors.error_exit = [](j_common_ptr cinfo) { sourceOf(cinfo)->complain(cinfo); };
    m_errors.emit_message = [](j_common_ptr cinfo, int level) {
        if (level < 0)
            sourceOf(cinfo)->complain(cinfo);
    };
    m_errors.output_message = [](j_common_ptr) {};
    m_info.client_data = this; // kept by jpeg_create_decompress, which clears the rest
    guarded([&] {
        jpeg_create_decompress(&m_info);
        m_created = true;
    });
    m_info.mem->max_memory_to_use = long(BaseMemory + MemoryPerFileByte * m_file.size());
    m_source.init_source = [](j_decompress_ptr) {};
    m_source.fill_input_buffer = [](j_decompress_ptr cinfo) -> boolean {
        return sourceOf(reinterpret_cast<j_common_ptr>(cinfo))->fill();
    };
    m_source.skip_input_data = [](j_decompress_ptr cinfo, long bytes) {
        sourceOf(reinterpret_cast<j_common_ptr>(cinfo))->skip(bytes);
    };
    m_source.resync_to_restart = jpeg_resync_to_restart;
    m_source.term_source = [](j_decompress_ptr) {};
    m_info.src = &m_source;
    guarded([&] { jpeg_read_header(&m_info, TRUE); });

    m_width = int(m_info.image_width);
    m_height = int(m_info.image_height);
    const bool proof =
        m_info.arith_code && qint64(m_width) * m_height > HuffmanPixelsPerByte * m_file.size();
    checkDeclaredSize(m_path, m_width, m_height, m_file.size(),
                      proof ? MaxPicturePixels : HuffmanPixelsPerByte);
    switch (m_info.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB: break;
    case JCS_CMYK:
    case JCS_YCCK: m_cmyk = true; break;
    default:
        throw RunError::of(RunError::InvalidPicture,
                           m_path +
                               QStringLiteral(" is a JPEG of a kind Pelloran does not read (%1 "
                                              "colour components)")
                                   .arg(m_info.num_components));
    }
    return !proof || trusted;
}

// Decodes every row into the same one, for the damage checks alone.
void JpegSource::prove()
{
    start(RowLayout::Bgr24, true);
    std::vector<uchar> row(size_t(m_width) * 3);
    while (nextBand(1).rows > 0)
        readBand(row.data(), 0);
    finish();
}

void JpegSource::start(RowLayout layout, bool)
{
    m_layout = layout;
    // libjpeg turns YCCK into CMYK itself, as it does for Qt.
    m_info.out_color_space = m_cmyk                       ? JCS_CMYK
                             : layout == RowLayout::Bgr24 ? JCS_EXT_BGR
                                                          : JCS_EXT_BGRX;
    // A progressive or multi-scan file is read whole here, into libjpeg's coefficients.
    guarded([&] { jpeg_start_decompress(&m_info); });
    checkEnd();
    if (m_cmyk)
        m_cmykRow.resize(size_t(m_width) * 4);
}

Band JpegSource::nextBand(int maxRows)
{
    m_bandRows = std::min(maxRows, m_height - m_row);
    Band band;
    band.y0 = m_row;
    band.rows = m_bandRows;
    band.pixels = m_width;
    return band;
}

// Qt's own CMYK conversion: each channel scaled by the black one (both inverted, as
// Adobe's encoders store them), truncating.
void JpegSource::readCmykRows(uchar *out, qsizetype stride, int rows)
{
    JSAMPROW in = m_cmykRow.data();
    const int step = bytesPerPixel(m_layout);
    for (int r = 0; r < rows; ++r) {
        jpeg_read_scanlines(&m_info, &in, 1);
        uchar *o = out + r * stride;
        for (int x = 0; x < m_width; ++x, o += step) {
            const JSAMPLE *p = in + 4 * x;
            const int k = p[3];
            o[0] = uchar(k * p[2] / 255);
            o[1] = uchar(k * p[1] / 255);
            o[2] = uchar(k * p[0] / 255);
            if (step == 4)
                o[3] = 0xFF;
        }
    }
}

void JpegSource::readBand(uchar *out, qsizetype stride)
{
    const int rows = m_bandRows;
    if (m_cmyk) {
        guarded([&] { readCmykRows(out, stride, rows); });
    } else {
        m_rowPointers.resize(size_t(std::max<qsizetype>(qsizetype(m_rowPointers.size()), rows)));
        for (int r = 0; r < rows; ++r)
            m_rowPointers[size_t(r)] = out + r * stride;
        guarded([&] {
            for (int done = 0; done < rows;)
                done += int(jpeg_read_scanlines(&m_info, m_rowPointers.data() + done,
                                                JDIMENSION(rows - done)));
        });
    }
    m_row += rows;
    m_bandRows = 0;
}

void JpegSource::finish()
{
    // Reads on to the end marker: damage after the last row counts as well.
    guarded([&] { jpeg_finish_decompress(&m_info); });
    checkEnd();
    m_file.checkUnchanged();
}

} // namespace

std::unique_ptr<PictureSource> openJpeg(InputFile &file, const QString &path)
{
    auto source = std::make_unique<JpegSource>(file, path);
    if (!source->readHeader(false)) {
        source->prove();
        source = std::make_unique<JpegSource>(file, path);
        source->readHeader(true);
    }
    return source;
}
