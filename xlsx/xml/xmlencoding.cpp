#include "xml/xmlencoding.h"

namespace QXlsx {
namespace detail {

XmlForm xmlForm(const QByteArray &head)
{
    const auto b = [&](int i) { return i < head.size() ? int(uchar(head.at(i))) : -1; };
    XmlForm form;
    if (b(0) == 0xff && b(1) == 0xfe)
        form = {XmlForm::Utf16LE, 2};
    else if (b(0) == 0xfe && b(1) == 0xff)
        form = {XmlForm::Utf16BE, 2};
    else if (b(0) == '<' && b(1) == 0)
        form = {XmlForm::Utf16LE, 0};
    else if (b(0) == 0 && b(1) == '<')
        form = {XmlForm::Utf16BE, 0};
    else if (b(0) == 0xef && b(1) == 0xbb && b(2) == 0xbf)
        form = {XmlForm::Bytes, 3};
    return form;
}

bool isUtf8Encoding(const QByteArray &name)
{
    return name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii";
}

} // namespace detail
} // namespace QXlsx
