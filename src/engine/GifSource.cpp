#include "PictureSource.h"

#include "RunError.h"

std::unique_ptr<PictureSource> openGif(InputFile &, const QString &path)
{
    throw RunError::of(RunError::InvalidPicture,
                       path + QStringLiteral(" is a picture format Pelloran does not read"));
}
