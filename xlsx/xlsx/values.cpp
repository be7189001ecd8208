#include "xlsx/values.h"

#include "core/celltext.h"
#include "core/limits.h"

#include <charconv>
#include <cmath>

namespace QXlsx {
namespace detail {

namespace {

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

QString unescape(const std::string &utf8)
{
    QString s = QString::fromUtf8(utf8.data(), int(utf8.size()));
    if (utf8.find("_x") == std::string::npos)
        return s;
    QString out;
    out.reserve(s.size());
    int i = 0;
    while (i < s.size()) {
        if (i + 6 < s.size() && s.at(i) == QLatin1Char('_') && s.at(i + 1) == QLatin1Char('x')
            && s.at(i + 6) == QLatin1Char('_')) {
            int code = 0;
            int k = 2;
            for (; k < 6; ++k) {
                const int h = hexValue(s.at(i + k));
                if (h < 0)
                    break;
                code = code * 16 + h;
            }
            if (k == 6) {
                out.append(QChar(ushort(code)));
                i += 7;
                continue;
            }
        }
        out.append(s.at(i++));
    }
    return out;
}

} // namespace

std::string_view trimmed(std::string_view s)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

bool parseUInt(std::string_view text, int max, int *out)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 10)
        return false;
    qint64 v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > max)
        return false;
    *out = int(v);
    return true;
}

bool parseBool(std::string_view text, bool *out)
{
    text = trimmed(text);
    if (text == "1" || text == "true")
        *out = true;
    else if (text == "0" || text == "false")
        *out = false;
    else
        return false;
    return true;
}

bool parseDouble(std::string_view text, double *out)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    double v = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, v);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// "B12" → row 12, column 2.
bool parseReference(std::string_view ref, int *row, int *column)
{
    const size_t n = ref.size();
    size_t i = 0;
    int c = 0;
    while (i < n) {
        const char u = ref[i];
        int letter;
        if (u >= 'A' && u <= 'Z')
            letter = u - 'A' + 1;
        else if (u >= 'a' && u <= 'z')
            letter = u - 'a' + 1;
        else
            break;
        if (++i > 3)
            return false;
        c = c * 26 + letter;
    }
    if (i == 0 || i == n || c > limits::Columns)
        return false;
    int r = 0;
    for (; i < n; ++i) {
        const char u = ref[i];
        if (u < '0' || u > '9')
            return false;
        r = r * 10 + (u - '0');
        if (r > limits::Rows)
            return false;
    }
    if (r < 1)
        return false;
    *row = r;
    *column = c;
    return true;
}

// Appends the text just read while out holds less than a cell keeps.
void appendCapped(const XmlReader &x, std::string *out)
{
    if (out->size() < size_t(limits::CellTextBytes))
        x.appendText(out);
}

// Strings in a workbook carry characters XML cannot hold as _xHHHH_.
QString unescapeText(const std::string &utf8)
{
    QString text = unescape(utf8);
    // Bytes cut at the cap may have cut a character in two.
    if (utf8.size() >= size_t(limits::CellTextBytes) && text.endsWith(QChar(0xfffd)))
        text.chop(1);
    return cellText(std::move(text));
}

} // namespace detail
} // namespace QXlsx
