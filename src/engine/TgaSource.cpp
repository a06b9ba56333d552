#include "PictureSource.h"

#include "RunError.h"

std::unique_ptr<PictureSource> openTga(InputFile &, const QString &path)
{
    throw RunError::of(RunError::InvalidPicture,
                       path + QStringLiteral(" is a picture format Pelloran does not read"));
}

bool looksLikeTga(const QByteArray &, const QByteArray &, qint64, const QString &)
{
    return false;
}
