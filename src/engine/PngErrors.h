#pragma once

#include <png.h>

// libpng's error and warning callbacks, for reading and writing alike. The error pointer
// given to libpng is the QString that keeps the first complaint; the error then ends in
// libpng's longjmp. Warnings (a damaged ancillary chunk, say) leave the pixels whole.
[[noreturn]] void keepPngComplaint(png_structp png, png_const_charp message);
void ignorePngWarning(png_structp png, png_const_charp message);
