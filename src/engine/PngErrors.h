#pragma once

#include <png.h>

// libpng's error callback, for reading and writing alike: the error pointer given to libpng
// is the QString that keeps the first complaint, and the error then ends in libpng's longjmp.
// A mask being written has no warning worth stopping for; the PNG source judges the
// warnings of a file it reads itself, most of them as damage.
[[noreturn]] void keepPngComplaint(png_structp png, png_const_charp message);
void ignorePngWarning(png_structp png, png_const_charp message);
