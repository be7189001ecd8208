#pragma once

#include <QString>

// Text for people on standard error and for scripts on standard output,
// right wherever the program runs: a Windows console gets its characters as
// such, anything else (a Linux terminal in any locale, a pipe, a file) UTF-8.
namespace console {

enum class Stream { Out, Err };

void write(Stream stream, const QString &text);
inline void line(Stream stream, const QString &text)
{
    write(stream, text + QLatin1Char('\n'));
}

// Whether standard error is a terminal (or a Windows console).
bool errorIsTerminal();

// One line on standard error that replaces itself, for progress; clear()
// takes it away before other lines are written.
class StatusLine
{
public:
    void show(const QString &text);
    void clear();

private:
    int m_width = 0; // terminal columns the shown text takes
};

} // namespace console
