#include "Options.h"

#include "Console.h"
#include "MaskCommand.h"

#include <QColor>
#include <QRegularExpression>

// The values options take, read apart from the table that names them.

int Options::byteValue(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    if (!digits.match(text).hasMatch())
        return -1;
    const int v = text.toInt();
    return v <= 255 ? v : -1;
}

int usageError(const QString &why)
{
    Console console;
    console.err(QStringLiteral("pelloran-mask: ") + why);
    console.err(QStringLiteral("Try 'pelloran-mask --help'."));
    return int(MaskCommand::BadUsage);
}

Colour Options::parseColour(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^#?([0-9A-Fa-f]{6})$"));
    static const QRegularExpression shortHex(QStringLiteral("^#([0-9A-Fa-f]{3})$"));
    static const QRegularExpression triple(QStringLiteral("^([0-9]+),([0-9]+),([0-9]+)$"));
    static const QRegularExpression name(QStringLiteral("^[A-Za-z]+$"));
    int r, g, b;
    if (const auto m = hex.match(text); m.hasMatch()) {
        const uint rgb = m.captured(1).toUInt(nullptr, 16);
        r = int(rgb >> 16), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    } else if (const auto m = shortHex.match(text); m.hasMatch()) {
        const uint rgb = m.captured(1).toUInt(nullptr, 16);
        r = int(rgb >> 8) * 17, g = int((rgb >> 4) & 0xF) * 17, b = int(rgb & 0xF) * 17;
    } else if (const auto m = triple.match(text); m.hasMatch()) {
        r = byteValue(m.captured(1)), g = byteValue(m.captured(2)), b = byteValue(m.captured(3));
        if (r < 0 || g < 0 || b < 0)
            return NoColour;
    } else if (name.match(text).hasMatch() && QColor::isValidColor(text)) {
        const QColor c = QColor::fromString(text);
        if (c.alpha() != 255) // "transparent" is no colour a pixel can be compared with
            return NoColour;
        r = c.red(), g = c.green(), b = c.blue();
    } else {
        return NoColour;
    }
    return Colour(r | (g << 8) | (b << 16));
}
