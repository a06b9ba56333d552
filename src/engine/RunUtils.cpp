#include "RunUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

namespace
{

bool isPlainVisibleFile(const QFileInfo &info)
{
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}

} // namespace

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (!name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?')))
        return isPlainVisibleFile(info);

    // A folder part with wildcards is not a pattern on any platform we care about: it
    // names a folder that does not exist.
    QDirIterator it(info.path(), QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo candidate = it.fileInfo();
        if (isPlainVisibleFile(candidate) && matchesPattern(name, candidate.fileName()))
            return true;
    }
    return false;
}

bool matchesPattern(const QString &pattern, const QString &name)
{
    // A folder of thousands of files is matched against one pattern: compile it once.
    thread_local QString cachedPattern;
    thread_local QList<QRegularExpression> compiled;
    thread_local bool matchesAll = false;
    if (pattern != cachedPattern || (compiled.isEmpty() && !matchesAll)) {
        cachedPattern = pattern;
        compiled.clear();
        matchesAll = false;
        for (const QString &part : pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString p = part.trimmed();
            if (p == QLatin1String("*.*") || p == QLatin1String("*"))
                matchesAll = true;
            compiled.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(p),
                                               QRegularExpression::CaseInsensitiveOption));
        }
    }
    if (matchesAll)
        return true;
    for (const QRegularExpression &re : std::as_const(compiled))
        if (re.match(name).hasMatch())
            return true;
    return false;
}

QString ReverseString(const QString &s)
{
    // By code points, so that a name with characters outside the basic plane reverses into
    // valid text.
    const QList<uint> ucs4 = s.toUcs4();
    QString out;
    out.reserve(s.size());
    for (auto it = ucs4.crbegin(); it != ucs4.crend(); ++it)
        out.append(QString::fromUcs4(reinterpret_cast<const char32_t *>(&*it), 1));
    return out;
}
