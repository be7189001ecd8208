#include "xlsxdocument.h"

#include "xlsxsavetarget.h"
#include "workbookfile.h"
#include "xlsxworkbook.h"
#include "zip/zipwriter.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

namespace QXlsx {

struct Document::Private
{
    std::unique_ptr<detail::Workbook> book;
    ReadError error;
    QString path;
    mutable SaveError saveError;
    int selected = 0;

    detail::Sheet *sheet() const
    {
        return book ? &book->sheets[size_t(selected)] : nullptr;
    }
};

Document::Document(const QString &xlsxName, QObject *parent) : QObject(parent), d(new Private)
{
    d->path = xlsxName;
    d->book = detail::readWorkbookFile(xlsxName, &d->error);
    if (d->book) {
        const int active = d->book->activeTab;
        d->selected = active < int(d->book->sheets.size()) ? active : 0;
    }
}

Document::~Document() = default;

bool Document::isLoaded() const
{
    return d->book != nullptr;
}

ReadError Document::readError() const
{
    return d->book ? ReadError() : d->error;
}

bool Document::isPackage() const
{
    return d->book && d->book->workbookEntry >= 0;
}

bool Document::isDate1904() const
{
    return d->book && d->book->date1904;
}

QStringList Document::sheetNames() const
{
    QStringList names;
    if (d->book) {
        for (const detail::Sheet &sheet : d->book->sheets)
            names.append(sheet.name);
    }
    return names;
}

bool Document::selectSheet(const QString &name)
{
    if (!d->book)
        return false;
    const auto &sheets = d->book->sheets;
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].name == name) {
            d->selected = int(i);
            return true;
        }
    }
    return false;
}

CellRange Document::dimension() const
{
    const detail::Sheet *sheet = d->sheet();
    return sheet ? sheet->range : CellRange();
}

Cell *Document::cellAt(int row, int column) const
{
    detail::Sheet *sheet = d->sheet();
    return sheet ? sheet->find(row, column) : nullptr;
}

bool Document::saveAs(const QString &xlsxName) const
{
    d->saveError = SaveError();
    if (!isPackage()) {
        d->saveError.kind = SaveError::NotPackage;
        return false;
    }
    detail::Workbook &book = *d->book;

    std::map<int, QByteArray> replacements;
    if (!detail::selectionEdits(book, d->selected, &replacements)) {
        d->saveError.kind = SaveError::NotEditable;
        return false;
    }

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!detail::writePackage(book.package.bytes(), book.package.layout(), replacements, &buffer)) {
        d->saveError.kind = SaveError::NotEditable;
        return false;
    }
    buffer.close();
    // Over the file it came from, the file must still be what was read.
    const bool source = QFileInfo(xlsxName).canonicalFilePath() == QFileInfo(d->path).canonicalFilePath()
        && QFileInfo::exists(xlsxName);
    return detail::writeOver(xlsxName, buffer.data(), source ? &book.package.bytes() : nullptr, &d->saveError);
}

SaveError Document::saveError() const
{
    return d->saveError;
}

} // namespace QXlsx
