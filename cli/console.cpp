#include "cli/console.h"

#include <QVector>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace console {

namespace {

FILE *fileOf(Stream stream)
{
    return stream == Stream::Out ? stdout : stderr;
}

#ifdef Q_OS_WIN
HANDLE consoleOf(Stream stream)
{
    const HANDLE handle = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}
#endif

// Columns a character takes on a terminal: East Asian wide and full-width
// forms two, others one.
int columns(uint c)
{
    const bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3)
        || (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60)
        || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x20000 && c <= 0x3fffd);
    return wide ? 2 : 1;
}

int columns(const QString &text)
{
    int width = 0;
    for (const uint c : text.toUcs4())
        width += columns(c);
    return width;
}

} // namespace

void write(Stream stream, const QString &text)
{
#ifdef Q_OS_WIN
    if (const HANDLE handle = consoleOf(stream)) {
        std::fflush(fileOf(stream));
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()), &written, nullptr);
        return;
    }
    // Lines end in "\n" here as everywhere, not "\r\n": the same bytes for scripts.
    static bool binary[2] = {false, false};
    if (!binary[int(stream)]) {
        _setmode(_fileno(fileOf(stream)), _O_BINARY);
        binary[int(stream)] = true;
    }
#endif
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), fileOf(stream));
    std::fflush(fileOf(stream));
}

bool errorIsTerminal()
{
#ifdef Q_OS_WIN
    return consoleOf(Stream::Err) != nullptr;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

void StatusLine::show(const QString &text)
{
    const int width = columns(text);
    write(Stream::Err, QLatin1Char('\r') + text + QString(qMax(m_width - width, 0), QLatin1Char(' ')));
    m_width = width;
}

void StatusLine::clear()
{
    if (m_width == 0)
        return;
    write(Stream::Err, QLatin1Char('\r') + QString(m_width, QLatin1Char(' ')) + QLatin1Char('\r'));
    m_width = 0;
}

} // namespace console
