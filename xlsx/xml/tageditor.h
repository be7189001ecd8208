#pragma once

// Finds start and end tags in the text of an XML part without parsing it into
// anything, so that an edit can replace a few bytes and keep all others.

#include <QByteArray>

#include <vector>

namespace QXlsx {
namespace detail {

// The part's code units: bytes for UTF-8 (and any ASCII-compatible encoding),
// 16-bit units for UTF-16. Markup is all ASCII, so it is found the same way in both.
class Units
{
public:
    explicit Units(const QByteArray &bytes);

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
    bool startsWith(int i, const char *s) const;
    int indexOf(const char *s, int from) const;
    QByteArray raw(int from, int to) const { return m_bytes.mid(from * m_width, (to - from) * m_width); }
    // ASCII text in the part's encoding.
    QByteArray encode(const QByteArray &ascii) const;
    // Whole units, and an encoding in which markup bytes are ASCII themselves
    // (UTF-8, UTF-16, ASCII): a part in any other is not edited in place.
    bool editable() const { return m_bytes.size() % m_width == 0 && !m_otherEncoding; }

private:
    const QByteArray &m_bytes;
    int m_width = 1;
    bool m_bigEndian = false;
    int m_start = 0;
    int m_size = 0;
    bool m_otherEncoding = false;
};

struct TagAttribute
{
    int nameBegin, nameEnd, valueBegin, valueEnd; // the value without its quotes
};

struct Tag
{
    int begin = 0, end = 0; // from '<' to just after '>'
    int nameBegin = 0, nameEnd = 0;
    bool closing = false;
    bool empty = false; // <x/>
    std::vector<TagAttribute> attributes;
};

class TagScanner
{
public:
    explicit TagScanner(const Units &u) : u(u), pos(u.start()) {}

    // The next start or end tag; false at the end of the text or on anything unexpected.
    bool next(Tag *tag);

private:
    bool skipPast(int from, const char *end);
    int skipSpace(int i) const;
    int readName(int i) const;
    bool readTag(int lt, Tag *tag);

    const Units &u;
    int pos;
};

// Compares the name in [begin, end), without any prefix, to local.
bool localNameIs(const Units &u, int begin, int end, const char *local);
// The attribute of tag named exactly name (no prefix), or null.
const TagAttribute *findAttribute(const Units &u, const Tag &tag, const char *name);
// The prefix of a qualified name with its colon ("x:"), or nothing.
QByteArray prefixOf(const Units &u, const Tag &tag);
// An attribute value of up to nine digits, white space around it allowed.
bool parseValue(const Units &u, const TagAttribute &a, int *out);
// Whether the attribute value is text, white space around it allowed.
bool valueIs(const Units &u, const TagAttribute &a, const char *text);

// Units [begin, end) replaced by bytes (already in the part's encoding).
struct Edit
{
    int begin, end;
    QByteArray bytes;
};
// The part with the edits made; they must not overlap.
QByteArray applyEdits(const Units &u, std::vector<Edit> edits);

} // namespace detail
} // namespace QXlsx
