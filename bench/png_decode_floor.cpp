// The floor bench_cli.sh holds pelloran-mask's PNG path against: every file decoded by
// libpng alone, row by row into one reused row buffer, with the transforms that give
// 8-bit blue, green, red, alpha (alpha 0xFF where the file has none), the layout
// pelloran-mask's PNG source hands out. Nothing is written; what is left over is what
// masking and writing a mask cost on top of the decode.
//
//   png_decode_floor FILE...
//
// CRCs and the zlib checksum are checked as libpng does by default, as a reader of
// untrusted files must. Interlaced files are decoded pass by pass into the same buffer:
// the work of a real decode, though the rows it leaves are not the picture's.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

// Reads one file; false (after saying why) when libpng refused it.
bool decode(const char *path, std::vector<png_byte> &row)
{
    std::FILE *f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        return false;
    }
    // Larger reads than stdio's default 4 KiB, as a reader with its own buffer would do.
    static char buffer[1 << 16];
    std::setvbuf(f, buffer, _IOFBF, sizeof buffer);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool ok = false; // read again after a longjmp
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const png_uint_32 h = png_get_image_height(png, info);
        row.resize(png_get_rowbytes(png, info));
        for (int p = 0; p < passes; ++p)
            for (png_uint_32 y = 0; y < h; ++y)
                png_read_row(png, row.data(), nullptr);
        png_read_end(png, nullptr);
        ok = true;
    }
    if (!ok)
        std::fprintf(stderr, "png_decode_floor: %s: not decoded\n", path);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: png_decode_floor FILE...\n");
        return 2;
    }
    std::vector<png_byte> row;
    for (int i = 1; i < argc; ++i)
        if (!decode(argv[i], row))
            return 1;
    return 0;
}
