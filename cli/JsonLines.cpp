#include "JsonLines.h"

#include "RunError.h"

QByteArray JsonLines::string(const QString &text)
{
    QByteArray out("\"");
    out.reserve(text.size() + 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += QStringView(text).mid(i, 2).toUtf8();
            ++i;
        } else if (c == u'"' || c == u'\\') {
            out += '\\';
            out += char(c);
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F || QChar::isSurrogate(c) || c == 0x2028 || c == 0x2029) {
            // Lone surrogates (bytes that are no UTF-8) cannot be UTF-8 themselves; the two
            // line separators would end a line for a JavaScript reader.
            out += "\\u" + QByteArray::number(unsigned(c), 16).rightJustified(4, '0');
        } else {
            out += QStringView(text).mid(i, 1).toUtf8();
        }
    }
    return out + '"';
}

QByteArray JsonLines::file(const File &f)
{
    QByteArray error("null");
    if (!f.problem.isEmpty()) {
        const int number = RunError::numberOf(f.problem);
        error = "{\"number\":" + (number ? QByteArray::number(number) : QByteArray("null")) +
                ",\"label\":" + (number ? string(RunError::label(number)) : QByteArray("null")) +
                ",\"text\":" + string(f.problem) + '}';
    }
    return "{\"type\":\"file\",\"sprite\":" + string(f.sprite) +
           ",\"mask\":" + (f.mask.isEmpty() ? QByteArray("null") : string(f.mask)) +
           ",\"outcome\":\"" + f.outcome + "\",\"error\":" + error +
           ",\"size\":" + (f.size < 0 ? QByteArray("null") : QByteArray::number(f.size)) +
           ",\"seconds\":" + QByteArray::number(f.seconds, 'f', 3) + '}';
}
