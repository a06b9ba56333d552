#include "PngErrors.h"

#include <QString>

void keepPngComplaint(png_structp png, png_const_charp message)
{
    auto *complaint = static_cast<QString *>(png_get_error_ptr(png));
    if (complaint->isEmpty())
        *complaint = QString::fromLatin1(message);
    png_longjmp(png, 1);
}

void ignorePngWarning(png_structp, png_const_charp) {}
