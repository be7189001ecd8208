#include "xlsx/xlsxsave.h"

#include "files/replacefile.h"
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
    files::ReplaceOptions options;
    options.sync = true;
    options.keepOwnership = true;
    options.followLinks = true; // a linked workbook stays a link; its target is saved
    options.expected = overSource ? &book.package.bytes() : nullptr;
    files::ReplaceError failure;
    if (files::replaceFile(path, buffer.data(), options, &failure))
        return true;
    switch (failure.kind) {
    case files::ReplaceError::NotRegularFile:
        error->kind = SaveError::NotRegularFile;
        break;
    case files::ReplaceError::Changed:
        error->kind = SaveError::Changed;
        break;
    case files::ReplaceError::None:
    case files::ReplaceError::CannotWrite:
        error->kind = SaveError::CannotWrite;
        break;
    }
    error->detail = failure.detail;
    return false;
}

} // namespace detail
} // namespace QXlsx
