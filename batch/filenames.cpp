#include "batch/filenames.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace {

bool isControl(ushort c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// Names Windows takes for devices, whatever ending follows: "CON.png" is the console.
bool isDeviceName(const QString &step)
{
    static const QStringList devices{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    const QString stem = step.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    if (devices.contains(stem))
        return true;
    if (stem.size() != 4 || !(stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))))
        return false;
    const QChar digit = stem.at(3);
    // Windows counts the superscript digits as port numbers too.
    return (digit >= QLatin1Char('1') && digit <= QLatin1Char('9')) || digit == QChar(0xb9) || digit == QChar(0xb2)
        || digit == QChar(0xb3);
}

bool usableOnWindows(const QStringList &steps)
{
    for (const QString &step : steps) {
        if (step.contains(QRegularExpression(QStringLiteral("[<>:\"|?*]"))) || step.endsWith(QLatin1Char('.'))
            || step.endsWith(QLatin1Char(' ')) || isDeviceName(step))
            return false;
    }
    return true;
}

} // namespace

bool usableAsFileName(const QString &key, bool windowsRules)
{
    for (int i = 0; i < key.size(); ++i) {
        const QChar c = key.at(i);
        if (isControl(c.unicode()) || c.isLowSurrogate())
            return false;
        if (c.isHighSurrogate() && !(i + 1 < key.size() && key.at(++i).isLowSurrogate()))
            return false;
    }
    if (key.startsWith(QLatin1Char('/')) || key.contains(QLatin1Char('\\')) || !QDir::isRelativePath(key))
        return false;
    const QStringList steps = (key + QStringLiteral(".png")).split(QLatin1Char('/'));
    if (steps.contains(QStringLiteral("..")))
        return false;
    return !windowsRules || usableOnWindows(steps);
}
