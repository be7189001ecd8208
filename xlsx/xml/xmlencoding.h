#pragma once

// How the bytes of an XML part are encoded, read the same way by the pull
// parser and the tag editor: the form the first bytes show (a byte-order
// mark, or the zero bytes of UTF-16 around the first '<'), and the encoding
// the declaration names.

#include <QByteArray>

namespace QXlsx {
namespace detail {

inline bool isXmlSpace(unsigned int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

struct XmlForm
{
    enum Width { Bytes, Utf16LE, Utf16BE } width = Bytes;
    int mark = 0; // bytes of the byte-order mark
};

// From the first four bytes (fewer when the part is shorter).
XmlForm xmlForm(const QByteArray &head);

// The encoding named in the XML declaration that begins at start, lower
// case: unit(i) gives the i-th code unit of the part (a byte, or a UTF-16
// unit), -1 past the end. Empty when there is no declaration or it names
// none; false when the declaration's encoding is malformed.
template<typename Unit>
bool declaredEncoding(Unit unit, int start, QByteArray *name)
{
    name->clear();
    const char open[] = "<?xml";
    for (int k = 0; k < 5; ++k) {
        if (unit(start + k) != open[k])
            return true;
    }
    if (!isXmlSpace(unit(start + 5)))
        return true;
    // Up to "?>", the declaration's attributes: version, encoding, standalone.
    int i = start + 5;
    for (; unit(i) >= 0 && !(unit(i) == '?' && unit(i + 1) == '>'); ++i) {
        const char key[] = "encoding";
        int k = 0;
        while (k < 8 && unit(i + k) == key[k])
            ++k;
        if (k < 8)
            continue;
        i += 8;
        while (isXmlSpace(unit(i)))
            ++i;
        if (unit(i) != '=')
            return false;
        ++i;
        while (isXmlSpace(unit(i)))
            ++i;
        const int quote = unit(i);
        if (quote != '"' && quote != '\'')
            return false;
        for (++i; unit(i) >= 0 && unit(i) != quote; ++i) {
            if (unit(i) >= 0x80 || name->size() >= 40)
                return false;
            name->append(char(unit(i)));
        }
        *name = name->toLower();
        return unit(i) == quote;
    }
    return unit(i) >= 0;
}

// Whether a part in the named encoding (empty: none named) holds its markup
// as the UTF-8 bytes themselves, so it is read and edited as it stands.
bool isUtf8Encoding(const QByteArray &name);

} // namespace detail
} // namespace QXlsx
