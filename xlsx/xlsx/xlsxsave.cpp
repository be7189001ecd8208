#include "xlsx/xlsxsave.h"

#include "core/replacefile.h"
#include "xlsx/selection.h"
#include "zip/zipwriter.h"

#include <QBuffer>

#include <map>

namespace QXlsx {
namespace detail {

bool saveBook(XlsxBook &book, int selected, const QString &path, bool overSource, SaveError *error)
{
    std::map<int, QByteArray> replacements;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!selectionEdits(book, selected, &replacements)
        || !writePackage(book.package.bytes(), book.package.layout(), replacements, &buffer)) {
        error->kind = SaveError::NotEditable;
        return false;
    }
    buffer.close();
    return replaceFile(path, buffer.data(), overSource ? &book.package.bytes() : nullptr, error);
}

} // namespace detail
} // namespace QXlsx
