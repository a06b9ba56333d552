#include "RunUtils.h"

#include <QRegularExpression>

qsizetype extensionAt(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? dot : path.size();
}

bool namedLikeMask(const QString &fileName, const QString &suffix)
{
    return !suffix.isEmpty() && fileName.left(extensionAt(fileName)).endsWith(suffix);
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
