#include "xml/xmlreader.h"

#include "core/chunksource.h"
#include "core/limits.h"
#include "core/utf8.h"
#include "xml/xmlencoding.h"

#include <QTextCodec>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace QXlsx {
namespace detail {

namespace {

constexpr size_t ChunkSize = 64 * 1024;
// A part in another encoding than UTF-8 is converted whole; no writer produces
// big ones, so they are kept small.
constexpr size_t MaxConvertedBytes = size_t(limits::ConvertedPartBytes);

// UTF-7 (RFC 2152): Qt knows it only through ICU, which Qt for Windows is
// built without, so it is decoded here on every system. False when bytes
// are no UTF-7: a byte past ASCII, a shifted run with bits left over, a
// surrogate out of its pair.
bool decodeUtf7(const char *bytes, size_t size, QString *text)
{
    const auto base64 = [](char c) {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    };
    text->clear();
    size_t i = 0;
    while (i < size) {
        const char c = bytes[i++];
        if (uchar(c) >= 0x80)
            return false;
        if (c != '+') {
            text->append(QLatin1Char(c));
            continue;
        }
        if (i < size && bytes[i] == '-') {
            text->append(QLatin1Char('+'));
            ++i;
            continue;
        }
        quint32 bits = 0;
        int count = 0;
        int value;
        while (i < size && (value = base64(bytes[i])) >= 0) {
            ++i;
            bits = (bits << 6) | quint32(value);
            count += 6;
            if (count >= 16) {
                count -= 16;
                text->append(QChar(ushort(bits >> count)));
                bits &= (1u << count) - 1;
            }
        }
        if (count >= 6 || bits != 0)
            return false;
        if (i < size && bytes[i] == '-')
            ++i;
    }
    for (int k = 0; k < text->size(); ++k) {
        const QChar u = text->at(k);
        if (u.isLowSurrogate() || (u.isHighSurrogate() && !(k + 1 < text->size() && text->at(++k).isLowSurrogate())))
            return false;
    }
    return true;
}

enum CharClass : unsigned char { Plain = 0, Special = 1, NameStart = 2, NameChar = 4 };

struct Classes
{
    unsigned char text[256]; // bytes text scanning must look at
    unsigned char name[256];
    constexpr Classes() : text(), name()
    {
        for (int c = 0; c < 0x20; ++c)
            text[c] = Special;
        text[int('\t')] = text[int('\n')] = Plain;
        text[int('<')] = text[int('&')] = text[int('\r')] = Special;
        for (int c = 0x80; c < 0x100; ++c) {
            text[c] = Special;
            name[c] = NameStart | NameChar;
        }
        for (int c = 'a'; c <= 'z'; ++c)
            name[c] = NameStart | NameChar;
        for (int c = 'A'; c <= 'Z'; ++c)
            name[c] = NameStart | NameChar;
        name[int('_')] = name[int(':')] = NameStart | NameChar;
        for (int c = '0'; c <= '9'; ++c)
            name[c] = NameChar;
        name[int('-')] = name[int('.')] = NameChar;
    }
};
constexpr Classes classes;

bool isSpace(char c)
{
    return isXmlSpace(uchar(c));
}

bool allSpace(const char *p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (!isSpace(p[i]))
            return false;
    }
    return true;
}

void appendCodePoint(std::string *out, unsigned int c)
{
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xc0 | c >> 6));
        out->push_back(char(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out->push_back(char(0xe0 | c >> 12));
        out->push_back(char(0x80 | (c >> 6 & 0x3f)));
        out->push_back(char(0x80 | (c & 0x3f)));
    } else {
        out->push_back(char(0xf0 | c >> 18));
        out->push_back(char(0x80 | (c >> 12 & 0x3f)));
        out->push_back(char(0x80 | (c >> 6 & 0x3f)));
        out->push_back(char(0x80 | (c & 0x3f)));
    }
}

bool isXmlChar(unsigned int c)
{
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) || (c >= 0xe000 && c <= 0xfffd)
        || (c >= 0x10000 && c <= 0x10ffff);
}

// Resolves references and normalises line ends (and, in attribute values,
// white space) of p; with out null it only checks the references.
bool resolve(const char *p, size_t n, std::string *out, bool attribute, bool cdata)
{
    for (size_t i = 0; i < n; ++i) {
        const char c = p[i];
        if (c == '&' && !cdata) {
            const void *semi = std::memchr(p + i + 1, ';', n - i - 1);
            if (!semi)
                return false;
            const size_t end = size_t(static_cast<const char *>(semi) - p);
            const char *ref = p + i + 1;
            const size_t length = end - i - 1;
            const auto is = [&](const char *name) { return length == std::strlen(name) && std::memcmp(ref, name, length) == 0; };
            unsigned int code = 0;
            if (is("lt")) {
                code = '<';
            } else if (is("gt")) {
                code = '>';
            } else if (is("amp")) {
                code = '&';
            } else if (is("quot")) {
                code = '"';
            } else if (is("apos")) {
                code = '\'';
            } else if (length >= 2 && ref[0] == '#') {
                const bool hex = ref[1] == 'x';
                size_t k = hex ? 2 : 1;
                if (k == length)
                    return false;
                for (; k < length; ++k) {
                    const char d = ref[k];
                    unsigned int digit;
                    if (d >= '0' && d <= '9')
                        digit = unsigned(d - '0');
                    else if (hex && d >= 'a' && d <= 'f')
                        digit = unsigned(d - 'a' + 10);
                    else if (hex && d >= 'A' && d <= 'F')
                        digit = unsigned(d - 'A' + 10);
                    else
                        return false;
                    code = code * (hex ? 16 : 10) + digit;
                    if (code > 0x10ffff)
                        return false;
                }
                if (!isXmlChar(code))
                    return false;
            } else {
                return false;
            }
            if (out)
                appendCodePoint(out, code);
            i = end;
        } else if (!out) {
            continue;
        } else if (c == '\r') {
            out->push_back(attribute ? ' ' : '\n');
            if (i + 1 < n && p[i + 1] == '\n')
                ++i;
        } else if (attribute && (c == '\t' || c == '\n')) {
            out->push_back(' ');
        } else {
            out->push_back(c);
        }
    }
    return true;
}

} // namespace

XmlReader::XmlReader(const QByteArray &document) : m_buf(document.constData(), size_t(document.size())), m_eof(true) {}

XmlReader::XmlReader(ChunkSource *source) : m_source(source) {}

bool XmlReader::fill()
{
    if (m_eof || !m_source)
        return false;
    if (m_pos > 0) {
        m_buf.erase(0, m_pos);
        m_dropped += qint64(m_pos);
        m_pos = 0;
    }
    // Grows by at least what is held, so a token spanning many chunks is rescanned
    // only a few times.
    const size_t want = std::max(ChunkSize, m_buf.size());
    size_t got = 0;
    QByteArray chunk;
    while (got < want) {
        if (!m_source->next(&chunk)) {
            m_eof = true;
            m_failed = m_source->failed();
            break;
        }
        m_buf.append(chunk.constData(), size_t(chunk.size()));
        got += size_t(chunk.size());
    }
    return got > 0;
}

bool XmlReader::convertAll(const char *codecName)
{
    const bool utf7 = qstricmp(codecName, "utf-7") == 0 || qstricmp(codecName, "utf7") == 0;
    QTextCodec *codec = utf7 ? nullptr : QTextCodec::codecForName(codecName);
    if (!utf7 && !codec)
        return false;
    while (fill()) {
        if (m_buf.size() > MaxConvertedBytes)
            return false;
    }
    if (m_failed || m_buf.size() > MaxConvertedBytes)
        return false;
    QString text;
    if (utf7) {
        if (!decodeUtf7(m_buf.data() + m_pos, m_buf.size() - m_pos, &text))
            return false;
    } else {
        QTextCodec::ConverterState state;
        text = codec->toUnicode(m_buf.data() + m_pos, int(m_buf.size() - m_pos), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0)
            return false;
    }
    const QByteArray utf8 = text.toUtf8();
    m_buf.assign(utf8.constData(), size_t(utf8.size()));
    m_pos = m_buf.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    m_eof = true;
    return true;
}

bool XmlReader::startDocument()
{
    while (m_buf.size() < 4 && fill()) {}
    if (m_failed)
        return false;
    const XmlForm form = xmlForm(QByteArray::fromRawData(m_buf.data(), int(std::min<size_t>(m_buf.size(), 4))));
    if (form.width == XmlForm::Utf16LE)
        return convertAll(form.mark ? "UTF-16" : "UTF-16LE");
    if (form.width == XmlForm::Utf16BE)
        return convertAll(form.mark ? "UTF-16" : "UTF-16BE");
    m_pos = size_t(form.mark);
    // The whole declaration in the buffer before it is read.
    if (m_buf.compare(m_pos, 5, "<?xml") == 0) {
        while (m_buf.find("?>", m_pos) == std::string::npos) {
            if (!fill())
                return false;
        }
    }
    QByteArray encoding;
    const auto unit = [&](int i) { return size_t(i) < m_buf.size() ? int(uchar(m_buf[size_t(i)])) : -1; };
    if (!declaredEncoding(unit, int(m_pos), &encoding))
        return false;
    return isUtf8Encoding(encoding) || convertAll(encoding.constData());
}

XmlReader::Token XmlReader::next()
{
    if (m_failed)
        return Invalid;
    if (m_closePending) {
        closeElement();
        m_closePending = false;
    }
    if (m_emptyPending) {
        m_emptyPending = false;
        m_closePending = true;
        return EndElement;
    }
    if (!m_started) {
        m_started = true;
        if (!startDocument()) {
            m_failed = true;
            return Invalid;
        }
    }
    for (;;) {
        if (m_pos >= m_buf.size() && !fill()) {
            if (!m_failed && m_rootSeen && m_depth == 0)
                return EndDocument;
            m_failed = true;
            return Invalid;
        }
        Token token = Invalid;
        const Step step = m_buf[m_pos] == '<' ? readMarkup(&token) : readText(&token);
        if (step == Done) {
            if (token != Invalid)
                return token;
            continue; // something skipped
        }
        // More: with the end of the part reached, the step is taken again and
        // then either completes (text) or fails.
        if (step == Bad || (!fill() && m_failed)) {
            m_failed = true;
            return Invalid;
        }
    }
}

XmlReader::Token XmlReader::nextStart()
{
    Token t;
    do
        t = next();
    while (t == EndElement || t == Text);
    return t;
}

XmlReader::Step XmlReader::readMarkup(Token *token)
{
    const size_t n = m_buf.size();
    const size_t i = m_pos;
    const auto has = [&](const char *s) {
        const size_t length = std::strlen(s);
        return n - i >= length && m_buf.compare(i, length, s) == 0;
    };
    const auto skipPast = [&](const char *end, size_t from) -> Step {
        const size_t at = m_buf.find(end, from);
        if (at == std::string::npos)
            return m_eof ? Bad : More;
        m_pos = at + std::strlen(end);
        return Done;
    };

    if (n - i < 2)
        return m_eof ? Bad : More;
    const char c = m_buf[i + 1];
    if (c == '/') {
        if (m_depth == 0)
            return Bad;
        const Step step = readEndTag();
        if (step == Done)
            *token = EndElement;
        return step;
    }
    if (c == '?')
        return skipPast("?>", i + 2);
    if (c == '!') {
        if (n - i < 9 && !m_eof)
            return More;
        if (has("<!--"))
            return skipPast("-->", i + 4);
        if (!has("<![CDATA[") || m_depth == 0)
            return Bad; // a DTD has no place in a package
        const size_t at = m_buf.find("]]>", i + 9);
        if (at == std::string::npos)
            return m_eof ? Bad : More;
        m_text = i + 9;
        m_textLength = at - m_text;
        m_textCdata = true;
        m_textPlain = true;
        bool high = false;
        for (size_t k = m_text; k < at; ++k) {
            const unsigned char ch = uchar(m_buf[k]);
            if (classes.text[ch] == Plain || ch == '<' || ch == '&')
                continue;
            if (ch == '\r')
                m_textPlain = false;
            else if (ch >= 0x80)
                high = true;
            else
                return Bad;
        }
        if (high && !isUtf8(m_buf.data() + m_text, m_textLength))
            return Bad;
        m_pos = at + 3;
        *token = Text;
        return Done;
    }
    const Step step = readStartTag();
    if (step == Done)
        *token = StartElement;
    return step;
}

// The name that starts at from, and where it ends.
XmlReader::Step XmlReader::scanName(size_t from, size_t *end) const
{
    const char *b = m_buf.data();
    const size_t n = m_buf.size();
    if (from >= n)
        return m_eof ? Bad : More;
    if (!(classes.name[uchar(b[from])] & NameStart))
        return Bad;
    size_t j = from + 1;
    while (j < n && (classes.name[uchar(b[j])] & NameChar))
        ++j;
    if (j == n)
        return m_eof ? Bad : More;
    *end = j;
    return Done;
}

// One attribute at *at: its name, '=' and its quoted value, which is checked;
// *at ends past the closing quote.
XmlReader::Step XmlReader::readAttribute(size_t *at, Attribute *a) const
{
    const char *b = m_buf.data();
    const size_t n = m_buf.size();
    const Step more = m_eof ? Bad : More;
    size_t i = *at;
    a->name = i;
    size_t end;
    const Step step = scanName(i, &end);
    if (step != Done)
        return step;
    a->nameLength = end - i;
    i = end;
    while (i < n && isSpace(b[i]))
        ++i;
    if (i >= n)
        return more;
    if (b[i] != '=')
        return Bad;
    ++i;
    while (i < n && isSpace(b[i]))
        ++i;
    if (i >= n)
        return more;
    const char quote = b[i];
    if (quote != '"' && quote != '\'')
        return Bad;
    a->value = ++i;
    a->plain = true;
    bool high = false;
    bool references = false;
    for (; i < n && b[i] != quote; ++i) {
        const unsigned char ch = uchar(b[i]);
        if (ch >= 0x80) {
            high = true;
            continue;
        }
        if (classes.text[ch] == Plain && ch != '\t' && ch != '\n')
            continue;
        if (ch == '<')
            return Bad;
        if (ch == '&')
            references = true;
        else if (ch != '\t' && ch != '\n' && ch != '\r')
            return Bad;
        a->plain = false; // a reference or white space to normalise
    }
    if (i >= n)
        return more;
    a->valueLength = i - a->value;
    if (high && !isUtf8(b + a->value, a->valueLength))
        return Bad;
    if (references && !resolve(b + a->value, a->valueLength, nullptr, true, false))
        return Bad;
    *at = i + 1;
    return Done;
}

// The start tag just read, whose name ends at nameEnd, opens an element:
// its name and the namespaces it declares are kept for its content.
void XmlReader::openElement(size_t nameEnd)
{
    const char *b = m_buf.data();
    m_rootSeen = true;
    m_name = m_pos + 1;
    m_nameLength = nameEnd - m_name;
    const void *colon = std::memchr(b + m_name, ':', m_nameLength);
    m_localName = colon ? size_t(static_cast<const char *>(colon) - b) + 1 : m_name;
    m_nameStarts.push_back(m_names.size());
    m_names.append(b + m_name, m_nameLength);
    ++m_depth;
    for (const Attribute &a : m_attributes) {
        if (a.nameLength < 5 || std::memcmp(b + a.name, "xmlns", 5) != 0 || (a.nameLength > 5 && b[a.name + 5] != ':'))
            continue;
        Namespace ns;
        ns.depth = m_depth;
        if (a.nameLength > 5)
            ns.prefix.assign(b + a.name + 6, a.nameLength - 6);
        decodeValue(a, &ns.uri);
        const auto slot = m_innermost.emplace(ns.prefix, m_namespaces.size());
        ns.shadowed = slot.second ? NoNamespace : slot.first->second;
        slot.first->second = m_namespaces.size();
        m_namespaces.push_back(std::move(ns));
    }
}

// The element at m_depth closes: its name and the namespaces it declared go.
void XmlReader::closeElement()
{
    m_names.resize(m_nameStarts.back());
    m_nameStarts.pop_back();
    while (!m_namespaces.empty() && m_namespaces.back().depth == m_depth) {
        const Namespace &ns = m_namespaces.back();
        if (ns.shadowed == NoNamespace)
            m_innermost.erase(ns.prefix);
        else
            m_innermost[ns.prefix] = ns.shadowed;
        m_namespaces.pop_back();
    }
    --m_depth;
}

// No two attributes of the start tag just read have the same name: compared
// pairwise for the few most tags have, sorted for many, so that a tag of a
// million attributes costs about what reading it does.
bool XmlReader::uniqueAttributes() const
{
    const char *b = m_buf.data();
    const size_t n = m_attributes.size();
    const auto name = [b](const Attribute &a) { return std::string_view(b + a.name, a.nameLength); };
    if (n <= 8) {
        for (size_t i = 1; i < n; ++i) {
            for (size_t k = 0; k < i; ++k) {
                if (name(m_attributes[i]) == name(m_attributes[k]))
                    return false;
            }
        }
        return true;
    }
    std::vector<std::string_view> names;
    names.reserve(n);
    for (const Attribute &a : m_attributes)
        names.push_back(name(a));
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end();
}

XmlReader::Step XmlReader::readStartTag()
{
    const char *b = m_buf.data();
    const size_t n = m_buf.size();
    const Step more = m_eof ? Bad : More;
    size_t nameEnd;
    Step step = scanName(m_pos + 1, &nameEnd);
    if (step != Done)
        return step;
    m_attributes.clear();
    size_t i = nameEnd;
    bool empty = false;
    for (;;) {
        const size_t before = i;
        while (i < n && isSpace(b[i]))
            ++i;
        if (i >= n)
            return more;
        if (b[i] == '>') {
            ++i;
            break;
        }
        if (b[i] == '/') {
            if (i + 1 >= n)
                return more;
            if (b[i + 1] != '>')
                return Bad;
            empty = true;
            i += 2;
            break;
        }
        if (i == before)
            return Bad; // attributes are set apart by white space
        Attribute a;
        step = readAttribute(&i, &a);
        if (step != Done)
            return step;
        m_attributes.push_back(a);
    }
    if (m_depth == 0 && m_rootSeen)
        return Bad; // a second root
    if (!uniqueAttributes())
        return Bad;
    if (m_depth >= limits::XmlDepth) {
        m_limit = ReadError::XmlDepth;
        return Bad;
    }
    openElement(nameEnd);
    m_emptyPending = empty;
    m_pos = i;
    return Done;
}

XmlReader::Step XmlReader::readEndTag()
{
    const char *b = m_buf.data();
    const size_t n = m_buf.size();
    const size_t open = m_nameStarts.back();
    const size_t length = m_names.size() - open;
    const size_t name = m_pos + 2;
    if (n - name < length + 1)
        return m_eof ? Bad : More;
    if (std::memcmp(b + name, m_names.data() + open, length) != 0)
        return Bad;
    size_t i = name + length;
    while (i < n && isSpace(b[i]))
        ++i;
    if (i >= n)
        return m_eof ? Bad : More;
    if (b[i] != '>')
        return Bad;
    m_name = name;
    m_nameLength = length;
    const void *colon = std::memchr(b + m_name, ':', m_nameLength);
    m_localName = colon ? size_t(static_cast<const char *>(colon) - b) + 1 : m_name;
    m_closePending = true;
    m_pos = i + 1;
    return Done;
}

XmlReader::Step XmlReader::readText(Token *token)
{
    const char *b = m_buf.data();
    const size_t n = m_buf.size();
    size_t i = m_pos;
    bool plain = true;
    bool high = false;
    bool references = false;
    for (; i < n; ++i) {
        const unsigned char ch = uchar(b[i]);
        if (classes.text[ch] == Plain)
            continue;
        if (ch == '<')
            break;
        if (ch == '&')
            references = true;
        else if (ch == '\r')
            plain = false;
        else if (ch >= 0x80)
            high = true;
        else
            return Bad;
    }
    if (i == n && !m_eof) {
        if (n - m_pos < ChunkSize)
            return More;
        // A long run is handed out in pieces, so it need not be held whole: cut
        // before a reference without its ';', a '\r' that may precede '\n', and
        // a UTF-8 sequence that may continue.
        const void *amp = nullptr;
        for (size_t k = n; k > m_pos && n - k < 64; --k) {
            if (b[k - 1] == ';')
                break;
            if (b[k - 1] == '&') {
                amp = b + k - 1;
                break;
            }
        }
        size_t cut = amp ? size_t(static_cast<const char *>(amp) - b) : n;
        size_t lead = cut;
        while (lead > m_pos && (uchar(b[lead - 1]) & 0xc0) == 0x80 && cut - lead < 3)
            --lead;
        if (lead > m_pos && uchar(b[lead - 1]) >= 0xc0)
            cut = lead - 1;
        if (cut > m_pos && b[cut - 1] == '\r')
            --cut;
        if (cut == m_pos)
            return More;
        i = cut;
    }
    const size_t begin = m_pos;
    const size_t length = i - begin;
    if (m_depth == 0) {
        if (!allSpace(b + begin, length))
            return Bad;
        m_pos = i;
        return Done;
    }
    if (high && !isUtf8(b + begin, length))
        return Bad;
    if (references && !resolve(b + begin, length, nullptr, false, false))
        return Bad;
    m_text = begin;
    m_textLength = length;
    m_textPlain = plain && !references;
    m_textCdata = false;
    m_pos = i;
    *token = Text;
    return Done;
}

bool XmlReader::nameIs(const char *local) const
{
    const size_t length = std::strlen(local);
    return m_nameLength - (m_localName - m_name) == length && std::memcmp(m_buf.data() + m_localName, local, length) == 0;
}

void XmlReader::decodeValue(const Attribute &a, std::string *out) const
{
    out->clear();
    if (a.plain)
        out->assign(m_buf.data() + a.value, a.valueLength);
    else
        resolve(m_buf.data() + a.value, a.valueLength, out, true, false);
}

bool XmlReader::attribute(const char *name, std::string *value) const
{
    const size_t length = std::strlen(name);
    for (const Attribute &a : m_attributes) {
        if (a.nameLength == length && std::memcmp(m_buf.data() + a.name, name, length) == 0) {
            decodeValue(a, value);
            return true;
        }
    }
    return false;
}

bool XmlReader::attribute(const char *name, QString *value) const
{
    std::string utf8;
    if (!attribute(name, &utf8))
        return false;
    *value = QString::fromUtf8(utf8.data(), int(utf8.size()));
    return true;
}

const std::string *XmlReader::namespaceUri(const char *prefix, size_t length) const
{
    const auto it = m_innermost.find(std::string(prefix, length));
    return it == m_innermost.end() ? nullptr : &m_namespaces[it->second].uri;
}

bool XmlReader::attribute(const char *const *namespaces, int count, const char *local, std::string *value) const
{
    const size_t length = std::strlen(local);
    const char *b = m_buf.data();
    for (const Attribute &a : m_attributes) {
        const void *colon = std::memchr(b + a.name, ':', a.nameLength);
        if (!colon)
            continue;
        const size_t prefixLength = size_t(static_cast<const char *>(colon) - (b + a.name));
        if (a.nameLength - prefixLength - 1 != length || std::memcmp(b + a.name + prefixLength + 1, local, length) != 0)
            continue;
        const std::string *uri = namespaceUri(b + a.name, prefixLength);
        if (!uri)
            continue;
        for (int k = 0; k < count; ++k) {
            if (*uri == namespaces[k]) {
                decodeValue(a, value);
                return true;
            }
        }
    }
    return false;
}

void XmlReader::appendText(std::string *out) const
{
    if (m_textPlain)
        out->append(m_buf.data() + m_text, m_textLength);
    else
        resolve(m_buf.data() + m_text, m_textLength, out, false, m_textCdata);
}

} // namespace detail
} // namespace QXlsx
