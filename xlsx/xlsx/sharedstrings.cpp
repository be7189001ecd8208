#include "xlsx/sharedstrings.h"

#include "xlsx/values.h"

namespace QXlsx {
namespace detail {

using Token = XmlReader::Token;

bool parseSharedStrings(XmlReader &x, QVector<QString> *strings, ReadBudget &budget)
{
    bool inItem = false;
    TextCollector item;
    for (;;) {
        const Token t = x.next();
        switch (t) {
        case Token::EndDocument:
            return true;
        case Token::Invalid:
            return false;
        case Token::StartElement:
            if (x.depth() == 1) {
                if (!x.nameIs("sst"))
                    return false;
            } else if (x.depth() == 2) {
                inItem = x.nameIs("si");
                if (inItem)
                    item.reset(2);
            } else if (inItem) {
                item.start(x);
            }
            break;
        case Token::EndElement:
            if (inItem && x.depth() == 2) {
                if (!budget.charge(ReadError::SharedStrings))
                    return false;
                strings->append(unescapeText(item.text));
                inItem = false;
            } else if (inItem) {
                item.end(x.depth());
            }
            break;
        case Token::Text:
            if (inItem && item.capture)
                appendCapped(x, &item.text);
            break;
        }
    }
}

} // namespace detail
} // namespace QXlsx
