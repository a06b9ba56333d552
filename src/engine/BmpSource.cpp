#include "PictureSource.h"

#include "RunError.h"

std::unique_ptr<PictureSource> openBmp(InputFile &, const QString &path)
{
    throw RunError::of(RunError::InvalidPicture, path + QStringLiteral(" is not a picture"));
}
