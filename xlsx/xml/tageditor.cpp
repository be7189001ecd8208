#include "xml/tageditor.h"

#include "xml/xmlencoding.h"

#include <algorithm>

namespace QXlsx {
namespace detail {

namespace {

bool isSpace(ushort c)
{
    return isXmlSpace(c);
}

bool endsName(ushort c)
{
    return isSpace(c) || c == '>' || c == '/' || c == '=' || c == 0;
}

// The value of a without the white space around it.
void trimmedValue(const Units &u, const TagAttribute &a, int *begin, int *end)
{
    *begin = a.valueBegin;
    *end = a.valueEnd;
    while (*begin < *end && isSpace(u.at(*begin)))
        ++*begin;
    while (*end > *begin && isSpace(u.at(*end - 1)))
        --*end;
}

} // namespace

Units::Units(const QByteArray &bytes) : m_bytes(bytes)
{
    const XmlForm form = xmlForm(bytes.left(4));
    m_width = form.width == XmlForm::Bytes ? 1 : 2;
    m_bigEndian = form.width == XmlForm::Utf16BE;
    m_start = form.mark / m_width;
    m_size = bytes.size() / m_width;
    QByteArray name;
    const auto unit = [&](int i) { return i < m_size ? int(at(i)) : -1; };
    const bool read = declaredEncoding(unit, m_start, &name);
    m_otherEncoding = !read || !(isUtf8Encoding(name) || (m_width == 2 && name.startsWith("utf-16")));
}

bool Units::startsWith(int i, const char *s) const
{
    for (; *s; ++s, ++i) {
        if (at(i) != uchar(*s))
            return false;
    }
    return true;
}

int Units::indexOf(const char *s, int from) const
{
    for (int i = from; i < m_size; ++i) {
        if (startsWith(i, s))
            return i;
    }
    return -1;
}

QByteArray Units::encode(const QByteArray &ascii) const
{
    if (m_width == 1)
        return ascii;
    QByteArray out;
    out.reserve(ascii.size() * 2);
    for (const char c : ascii) {
        if (m_bigEndian)
            out.append('\0').append(c);
        else
            out.append(c).append('\0');
    }
    return out;
}

bool TagScanner::next(Tag *tag)
{
    for (;;) {
        const int lt = u.indexOf("<", pos);
        if (lt < 0)
            return false;
        if (u.startsWith(lt, "<?")) {
            if (!skipPast(lt + 2, "?>"))
                return false;
            continue;
        }
        if (u.startsWith(lt, "<!--")) {
            if (!skipPast(lt + 4, "-->"))
                return false;
            continue;
        }
        if (u.startsWith(lt, "<![CDATA[")) {
            if (!skipPast(lt + 9, "]]>"))
                return false;
            continue;
        }
        if (u.at(lt + 1) == '!')
            return false; // a DTD: the reader refuses those too
        return readTag(lt, tag);
    }
}

bool TagScanner::skipPast(int from, const char *end)
{
    const int at = u.indexOf(end, from);
    if (at < 0)
        return false;
    pos = at + int(qstrlen(end));
    return true;
}

int TagScanner::skipSpace(int i) const
{
    while (i < u.size() && isSpace(u.at(i)))
        ++i;
    return i;
}

int TagScanner::readName(int i) const
{
    while (i < u.size() && !endsName(u.at(i)))
        ++i;
    return i;
}

bool TagScanner::readTag(int lt, Tag *tag)
{
    *tag = Tag();
    tag->begin = lt;
    int i = lt + 1;
    if (u.at(i) == '/') {
        tag->closing = true;
        ++i;
    }
    tag->nameBegin = i;
    i = tag->nameEnd = readName(i);
    if (tag->nameEnd == tag->nameBegin)
        return false;
    for (;;) {
        i = skipSpace(i);
        if (i >= u.size())
            return false;
        const ushort c = u.at(i);
        if (c == '>') {
            tag->end = pos = i + 1;
            return true;
        }
        if (c == '/' && !tag->closing && u.at(i + 1) == '>') {
            tag->empty = true;
            tag->end = pos = i + 2;
            return true;
        }
        if (tag->closing)
            return false;
        TagAttribute a;
        a.nameBegin = i;
        i = a.nameEnd = readName(i);
        if (a.nameEnd == a.nameBegin)
            return false;
        i = skipSpace(i);
        if (u.at(i) != '=')
            return false;
        i = skipSpace(i + 1);
        const ushort quote = u.at(i);
        if (quote != '"' && quote != '\'')
            return false;
        a.valueBegin = i + 1;
        i = a.valueBegin;
        while (i < u.size() && u.at(i) != quote)
            ++i;
        if (i >= u.size())
            return false;
        a.valueEnd = i;
        tag->attributes.push_back(a);
        ++i;
    }
}

bool localNameIs(const Units &u, int begin, int end, const char *local)
{
    for (int i = end - 1; i >= begin; --i) {
        if (u.at(i) == ':') {
            begin = i + 1;
            break;
        }
    }
    return end - begin == int(qstrlen(local)) && u.startsWith(begin, local);
}

const TagAttribute *findAttribute(const Units &u, const Tag &tag, const char *name)
{
    const int length = int(qstrlen(name));
    for (const TagAttribute &a : tag.attributes) {
        if (a.nameEnd - a.nameBegin == length && u.startsWith(a.nameBegin, name))
            return &a;
    }
    return nullptr;
}

QByteArray prefixOf(const Units &u, const Tag &tag)
{
    for (int i = tag.nameBegin; i < tag.nameEnd; ++i) {
        if (u.at(i) == ':')
            return u.raw(tag.nameBegin, i + 1);
    }
    return QByteArray();
}

bool valueIs(const Units &u, const TagAttribute &a, const char *text)
{
    int i, end;
    trimmedValue(u, a, &i, &end);
    return end - i == int(qstrlen(text)) && u.startsWith(i, text);
}

bool parseValue(const Units &u, const TagAttribute &a, int *out)
{
    int i, end;
    trimmedValue(u, a, &i, &end);
    if (i == end || end - i > 9)
        return false;
    int v = 0;
    for (; i < end; ++i) {
        const ushort c = u.at(i);
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

QByteArray applyEdits(const Units &u, std::vector<Edit> edits)
{
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
    QByteArray out;
    out.reserve(u.size() + 128);
    int at = 0;
    for (const Edit &e : edits) {
        out.append(u.raw(at, e.begin));
        out.append(e.bytes);
        at = e.end;
    }
    out.append(u.raw(at, u.size()));
    return out;
}

} // namespace detail
} // namespace QXlsx
