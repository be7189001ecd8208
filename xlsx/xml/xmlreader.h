#pragma once

// A small pull parser for the XML parts of a package. It reads UTF-8 as it is
// inflated (other encodings are converted first), checks that the document is
// well-formed, and hands out element names, attributes and text without
// building strings it is not asked for.

#include "readerror.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <string>
#include <unordered_map>
#include <vector>

namespace QXlsx {
namespace detail {

class ChunkSource;

class XmlReader
{
public:
    enum Token { StartElement, EndElement, Text, EndDocument, Invalid };

    explicit XmlReader(const QByteArray &document);
    explicit XmlReader(ChunkSource *source);

    // The next token. Text outside the root element, comments and processing
    // instructions are skipped; an empty element gives a start and an end.
    Token next();
    // The next StartElement, skipping end tags and text; else EndDocument or Invalid.
    Token nextStart();

    // Of the element just started or ended; the root is at depth 1.
    int depth() const { return m_depth; }
    // Compares the element's local name (without prefix).
    bool nameIs(const char *local) const;

    // The attribute of the element just started with this name and no prefix.
    bool attribute(const char *name, std::string *value) const;
    bool attribute(const char *name, QString *value) const;
    // The attribute with this local name whose prefix is bound to one of namespaces.
    bool attribute(const char *const *namespaces, int count, const char *local, std::string *value) const;

    // How far into the document reading has got, in bytes (of its UTF-8
    // form, for a document converted from another encoding).
    qint64 offset() const { return m_dropped + qint64(m_pos); }
    // The limit the document ran into, when that is why it was Invalid.
    ReadError::Limit limitReached() const { return m_limit; }

    // Appends the text just read (references resolved, line ends normalised).
    void appendText(std::string *out) const;

private:
    enum Step { Done, More, Bad };

    struct Attribute
    {
        size_t name, nameLength, value, valueLength;
        bool plain; // nothing to resolve or normalise
    };
    struct Namespace
    {
        int depth;
        std::string prefix, uri;
        size_t shadowed; // the binding of the prefix this one hides, or NoNamespace
    };
    static constexpr size_t NoNamespace = size_t(-1);

    bool fill();
    bool startDocument();
    bool convertAll(const char *codecName);
    Step readMarkup(Token *token);
    Step scanName(size_t from, size_t *end) const;
    Step readAttribute(size_t *at, Attribute *a) const;
    bool uniqueAttributes() const;
    void openElement(size_t nameEnd);
    void closeElement();
    Step readStartTag();
    Step readEndTag();
    Step readText(Token *token);
    void decodeValue(const Attribute &a, std::string *out) const;
    const std::string *namespaceUri(const char *prefix, size_t length) const;

    ChunkSource *m_source = nullptr;
    std::string m_buf;
    size_t m_pos = 0;
    qint64 m_dropped = 0; // bytes read and let go before m_buf
    bool m_eof = false;
    bool m_failed = false;
    bool m_started = false;

    int m_depth = 0;
    bool m_rootSeen = false;
    bool m_closePending = false;
    bool m_emptyPending = false;
    std::string m_names; // the open elements' qualified names, one after another
    std::vector<size_t> m_nameStarts;
    std::vector<Namespace> m_namespaces;
    std::unordered_map<std::string, size_t> m_innermost; // prefix -> its binding in scope
    ReadError::Limit m_limit = ReadError::NoLimit;

    size_t m_name = 0, m_nameLength = 0, m_localName = 0;
    std::vector<Attribute> m_attributes;
    size_t m_text = 0, m_textLength = 0;
    bool m_textPlain = true;
    bool m_textCdata = false;
};

} // namespace detail
} // namespace QXlsx
