#include "xlsxdocument.h"

#include "workbookfile.h"
#include "xlsx/xlsxsave.h"

#include <QFileInfo>

namespace QXlsx {

struct Document::Private
{
    std::unique_ptr<detail::Workbook> book;
    detail::XlsxBook *package = nullptr; // book, when it came from an .xlsx
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
    d->package = dynamic_cast<detail::XlsxBook *>(d->book.get());
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
    return d->package != nullptr;
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
    if (!d->package) {
        d->saveError.kind = SaveError::NotPackage;
        return false;
    }
    // Over the file it came from, the file must still be what was read.
    const bool overSource = QFileInfo::exists(xlsxName)
        && QFileInfo(xlsxName).canonicalFilePath() == QFileInfo(d->path).canonicalFilePath();
    return detail::saveBook(*d->package, d->selected, xlsxName, overSource, &d->saveError);
}

SaveError Document::saveError() const
{
    return d->saveError;
}

} // namespace QXlsx
