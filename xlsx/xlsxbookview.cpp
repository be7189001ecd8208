// Marks a sheet as the active tab by editing the workbook part's text in place:
// only the workbookView start tag changes (or a bookViews element is added), so
// every other byte of the part stays as it was.

#include "xlsxworkbook.h"

#include <algorithm>
#include <vector>

namespace QXlsx {
namespace detail {

namespace {

// The part's code units: bytes for UTF-8 (and any ASCII-compatible encoding),
// 16-bit units for UTF-16. Markup is all ASCII, so it is found the same way in both.
class Units
{
public:
    explicit Units(const QByteArray &bytes) : m_bytes(bytes)
    {
        const auto b = [&](int i) { return i < bytes.size() ? uchar(bytes.at(i)) : -1; };
        if (b(0) == 0xff && b(1) == 0xfe) {
            m_width = 2;
            m_start = 1;
        } else if (b(0) == 0xfe && b(1) == 0xff) {
            m_width = 2;
            m_bigEndian = true;
            m_start = 1;
        } else if (b(0) == '<' && b(1) == 0) {
            m_width = 2;
        } else if (b(0) == 0 && b(1) == '<') {
            m_width = 2;
            m_bigEndian = true;
        } else if (b(0) == 0xef && b(1) == 0xbb && b(2) == 0xbf) {
            m_start = 3;
        }
        m_size = bytes.size() / m_width;
    }

    int start() const { return m_start; }
    int size() const { return m_size; }
    ushort at(int i) const
    {
        if (i < 0 || i >= m_size)
            return 0;
        if (m_width == 1)
            return uchar(m_bytes.at(i));
        const uchar first = uchar(m_bytes.at(2 * i));
        const uchar second = uchar(m_bytes.at(2 * i + 1));
        return m_bigEndian ? ushort(first << 8 | second) : ushort(second << 8 | first);
    }
    bool startsWith(int i, const char *s) const
    {
        for (; *s; ++s, ++i) {
            if (at(i) != uchar(*s))
                return false;
        }
        return true;
    }
    int indexOf(const char *s, int from) const
    {
        for (int i = from; i < m_size; ++i) {
            if (startsWith(i, s))
                return i;
        }
        return -1;
    }
    QByteArray raw(int from, int to) const { return m_bytes.mid(from * m_width, (to - from) * m_width); }
    QByteArray encode(const QByteArray &ascii) const
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
    int byteSize() const { return m_bytes.size(); }
    bool whole() const { return m_bytes.size() % m_width == 0; }

private:
    const QByteArray &m_bytes;
    int m_width = 1;
    bool m_bigEndian = false;
    int m_start = 0;
    int m_size = 0;
};

bool isSpace(ushort c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsName(ushort c)
{
    return isSpace(c) || c == '>' || c == '/' || c == '=' || c == 0;
}

struct Attribute
{
    int nameBegin, nameEnd, valueBegin, valueEnd; // the value without its quotes
};

struct Tag
{
    int begin = 0, end = 0; // from '<' to just after '>'
    int nameBegin = 0, nameEnd = 0;
    bool closing = false;
    bool empty = false; // <x/>
    std::vector<Attribute> attributes;
};

class Scanner
{
public:
    explicit Scanner(const Units &u) : u(u), pos(u.start()) {}

    // The next start or end tag; false at the end of the text or on anything unexpected.
    bool next(Tag *tag)
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

private:
    bool skipPast(int from, const char *end)
    {
        const int at = u.indexOf(end, from);
        if (at < 0)
            return false;
        pos = at + int(qstrlen(end));
        return true;
    }

    int skipSpace(int i) const
    {
        while (i < u.size() && isSpace(u.at(i)))
            ++i;
        return i;
    }

    int readName(int i) const
    {
        while (i < u.size() && !endsName(u.at(i)))
            ++i;
        return i;
    }

    bool readTag(int lt, Tag *tag)
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
            Attribute a;
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

    const Units &u;
    int pos;
};

// Compares the name in [begin, end), without any prefix, to local.
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

// The prefix of a qualified name with its colon ("x:"), or nothing.
QByteArray prefixOf(const Units &u, const Tag &tag)
{
    for (int i = tag.nameBegin; i < tag.nameEnd; ++i) {
        if (u.at(i) == ':')
            return u.raw(tag.nameBegin, i + 1);
    }
    return QByteArray();
}

bool parseValue(const Units &u, const Attribute &a, int *out)
{
    int i = a.valueBegin;
    int end = a.valueEnd;
    while (i < end && isSpace(u.at(i)))
        ++i;
    while (end > i && isSpace(u.at(end - 1)))
        --end;
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

struct Edit
{
    int begin, end; // units replaced
    QByteArray bytes;
};

} // namespace

bool markActiveTab(const QByteArray &xml, int tab, QByteArray *out)
{
    const Units u(xml);
    if (!u.whole() || tab < 0)
        return false;
    const QByteArray number = QByteArray::number(tab);

    Scanner scanner(u);
    Tag tag;
    int depth = 0;
    bool inBookViews = false;
    Tag bookViews;
    bool haveBookViews = false;
    Tag view;
    bool haveView = false;
    Tag sheets;
    bool haveSheets = false;
    while (!haveView && !haveSheets && scanner.next(&tag)) {
        if (tag.closing) {
            if (--depth == 1)
                inBookViews = false;
            if (depth < 0)
                return false;
            continue;
        }
        if (depth == 0 && !localNameIs(u, tag.nameBegin, tag.nameEnd, "workbook"))
            return false;
        if (depth == 1 && localNameIs(u, tag.nameBegin, tag.nameEnd, "bookViews") && !haveBookViews) {
            bookViews = tag;
            haveBookViews = true;
            inBookViews = !tag.empty;
        } else if (depth == 1 && localNameIs(u, tag.nameBegin, tag.nameEnd, "sheets")) {
            sheets = tag;
            haveSheets = true;
        } else if (depth == 2 && inBookViews && localNameIs(u, tag.nameBegin, tag.nameEnd, "workbookView")) {
            view = tag;
            haveView = true;
        }
        if (!tag.empty)
            ++depth;
    }

    // The sheets element follows bookViews: reaching neither means the part ended early.
    if (!haveView && !haveSheets)
        return false;

    std::vector<Edit> edits;
    const QByteArray viewTag = "workbookView activeTab=\"" + number + "\"/>";
    if (haveView) {
        const Attribute *active = nullptr;
        const Attribute *first = nullptr;
        for (const Attribute &a : view.attributes) {
            if (localNameIs(u, a.nameBegin, a.nameEnd, "activeTab") && a.nameEnd - a.nameBegin == 9)
                active = &a;
            else if (localNameIs(u, a.nameBegin, a.nameEnd, "firstSheet") && a.nameEnd - a.nameBegin == 10)
                first = &a;
        }
        if (active)
            edits.push_back({active->valueBegin, active->valueEnd, u.encode(number)});
        else
            edits.push_back({view.nameEnd, view.nameEnd, u.encode(" activeTab=\"" + number + "\"")});
        int firstSheet = 0;
        if (first) {
            if (!parseValue(u, *first, &firstSheet))
                return false;
            if (firstSheet > tab)
                edits.push_back({first->valueBegin, first->valueEnd, u.encode(number)});
        }
    } else if (haveBookViews) {
        const QByteArray prefix = prefixOf(u, bookViews);
        const QByteArray child = u.encode("<") + prefix + u.encode(viewTag);
        if (bookViews.empty) {
            // <bookViews/> becomes <bookViews><workbookView .../></bookViews>
            const QByteArray closing = u.encode("</") + u.raw(bookViews.nameBegin, bookViews.nameEnd) + u.encode(">");
            edits.push_back({bookViews.end - 2, bookViews.end, u.encode(">") + child + closing});
        } else {
            edits.push_back({bookViews.end, bookViews.end, child});
        }
    } else {
        const QByteArray prefix = prefixOf(u, sheets);
        const QByteArray added = u.encode("<") + prefix + u.encode("bookViews><") + prefix + u.encode(viewTag)
            + u.encode("</") + prefix + u.encode("bookViews>");
        edits.push_back({sheets.begin, sheets.begin, added});
    }

    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
    out->clear();
    out->reserve(xml.size() + 128);
    int at = 0;
    for (const Edit &e : edits) {
        out->append(u.raw(at, e.begin));
        out->append(e.bytes);
        at = e.end;
    }
    out->append(u.raw(at, u.size()));
    return true;
}

} // namespace detail
} // namespace QXlsx
