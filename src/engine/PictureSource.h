#pragma once

// Pictures as rows. A source reads a picture file's header, checks it against the file's
// bytes before it allocates anything of the picture's declared size, and then hands out its
// rows in bands, in a pixel layout the caller chooses, through buffers it keeps. The window
// asks a source for the whole picture (readPicture); the command line's file job passes the
// bands on to the mask rule and a mask file, so a sheet of any size costs a few megabytes.
//
// Every complaint a decoder makes is damage: a source raises RunError::DamagedPicture
// rather than hand out a picture with made-up pixels.

#include "FileOps.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

// About this many bytes of a picture are read or handed on at a time: a band of rows, a block
// of a file. A sprite up to this size is read in one go; a sheet costs a few of these.
constexpr qint64 BlockBytes = 1 << 20;

// How a band's pixels are laid out.
enum class RowLayout {
    Bgr24,  // blue, green, red
    Bgrx32, // blue, green, red, 0xFF: the scan line of a QImage::Format_RGB32
    Bgra32, // blue, green, red, alpha (0xFF where the file has none): Format_ARGB32
};

constexpr int bytesPerPixel(RowLayout layout)
{
    return layout == RowLayout::Bgr24 ? 3 : 4;
}

// Where the rows of a band belong in the picture: its row r is picture row y0 + r * dy, and
// pixel i of a row is picture column x0 + i * dx. Most bands are whole rows (x0 0, dx 1,
// pixels the width) going down (dy 1) or up (dy -1); an interlaced file's passes come as
// rows with gaps between them.
struct Band {
    int y0 = 0, dy = 1, rows = 0;
    int x0 = 0, dx = 1, pixels = 0;

    bool wholeRows(int width) const { return x0 == 0 && dx == 1 && pixels == width; }
};

class PictureSource
{
public:
    virtual ~PictureSource() = default;
    PictureSource(const PictureSource &) = delete;
    PictureSource &operator=(const PictureSource &) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Whether the file can hold pixels that are not opaque (an alpha channel, a
    // transparent palette entry).
    bool hasAlpha() const { return m_alpha; }
    // The layout the source makes with the least work.
    RowLayout nativeLayout() const { return m_native; }
    // Whether the bands come in passes that are not whole consecutive rows.
    bool interlaced() const { return m_interlaced; }
    // Whether the source can hand out its rows top-down as well as bottom-up.
    bool reversible() const { return m_reversible; }

    // Called once, before the first band: the layout every band is to have, and the order
    // the caller would like. A source that is neither reversible nor interlaced keeps its
    // own order; topDown() says which order the bands come in.
    virtual void start(RowLayout layout, bool topDown) = 0;
    bool topDown() const { return m_topDown; }

    // The next band, of at most `maxRows` rows (at least 1): where its rows go. A band of
    // no rows means the picture is complete.
    virtual Band nextBand(int maxRows) = 0;
    // Fills the band nextBand() described: its row r at `out + r * stride` (the stride may be
    // negative), `pixels` pixels in the layout given to start().
    virtual void readBand(uchar *out, qsizetype stride) = 0;
    // The same band in a buffer the source keeps until the next call: row r at
    // `rows + r * stride`. What the file job uses: a source whose file holds the rows as they
    // are wanted hands them out without a copy. `layout` is the one given to start().
    virtual const uchar *band(const Band &band, RowLayout layout, qsizetype &stride);

    // After the last band: whatever of the file must follow the pixels is checked, and the
    // file must not have changed while it was read.
    virtual void finish() = 0;

    const QString &path() const { return m_path; }

protected:
    PictureSource(InputFile &file, const QString &path) : m_file(file), m_path(path) {}

    InputFile &m_file;
    QString m_path;
    int m_width = 0, m_height = 0;
    bool m_alpha = false;
    RowLayout m_native = RowLayout::Bgrx32;
    bool m_interlaced = false;
    bool m_reversible = false;
    bool m_topDown = true;

private:
    std::vector<uchar> m_rows; // for band()
};

// The source for a picture file, chosen by its content, its headers already checked: raises
// InvalidPicture for a file that is no picture ("… is not a picture") or one in a format the
// program does not read ("… is a picture format Pelloran does not read"), DamagedPicture
// and OutOfMemory as the checks find. `file` must outlive the source.
std::unique_ptr<PictureSource> openPicture(InputFile &file, const QString &path);

// Reads a file from a position onwards, a chunk at a time, into a buffer it keeps: what the
// sequential decoders (libpng, libjpeg, giflib) are fed with.
class StreamReader
{
public:
    explicit StreamReader(InputFile &file, qint64 from = 0, qint64 chunk = 64 << 10);

    // Up to `n` next bytes of the file into `into`; fewer only where the file ends.
    qint64 read(uchar *into, qint64 n);
    // The next bytes as they stand in the buffer (at most a chunk; none at the file's end),
    // valid until the next call, and counted as read.
    const uchar *next(qint64 &n);
    qint64 position() const { return m_position - (m_end - m_at); }
    bool atEnd() const { return m_at == m_end && m_position >= m_file.size(); }

private:
    void refill();

    InputFile &m_file;
    qint64 m_position; // of the file's byte after the buffer's last
    QByteArray m_buffer;
    qint64 m_at = 0, m_end = 0;
};

// The format-specific sources; openPicture picks one. Each reads the header of `file`
// and raises as openPicture says.
std::unique_ptr<PictureSource> openBmp(InputFile &file, const QString &path);
std::unique_ptr<PictureSource> openPng(InputFile &file, const QString &path);
std::unique_ptr<PictureSource> openJpeg(InputFile &file, const QString &path);
std::unique_ptr<PictureSource> openGif(InputFile &file, const QString &path);
std::unique_ptr<PictureSource> openTga(InputFile &file, const QString &path);

// Whether a file that starts with `head` (its first bytes, up to 32) and is `size` bytes long
// and named `path` is a TGA picture: the format has no signature, so its header's fields must
// all be plausible and the name must say .tga (or the file ends in the TGA 2.0 footer, which
// `tail`, the file's last 26 bytes, shows).
bool looksLikeTga(const QByteArray &head, const QByteArray &tail, qint64 size, const QString &path);
