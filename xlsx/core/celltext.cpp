#include "core/celltext.h"

#include "core/limits.h"

namespace QXlsx {
namespace detail {

QString cellText(QString text)
{
    if (text.size() > limits::CellText) {
        text.truncate(limits::CellText);
        if (text.at(text.size() - 1).isHighSurrogate())
            text.chop(1);
    }
    return text;
}

} // namespace detail
} // namespace QXlsx
