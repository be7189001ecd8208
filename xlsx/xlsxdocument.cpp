#include "xlsxdocument.h"

#include "workbookfile.h"
#include "xlsxworkbook.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace QXlsx {

struct Document::Private
{
    std::unique_ptr<detail::Workbook> book;
    int selected = 0;

    detail::Sheet *sheet() const
    {
        return book ? &book->sheets[size_t(selected)] : nullptr;
    }
};

Document::Document(const QString &xlsxName, QObject *parent) : QObject(parent), d(new Private)
{
    d->book = detail::readWorkbookFile(xlsxName);
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
    if (!isPackage())
        return false;
    detail::Workbook &book = *d->book;

    int replaced = -1;
    QByteArray edited;
    if (d->selected != book.activeTab) {
        QByteArray xml;
        int tab = -1;
        int first = -1;
        // The edited part is read back to be sure the edit did what it should.
        if (!detail::workbookPart(book, &xml) || !detail::markActiveTab(xml, d->selected, &edited)
            || !detail::readBookView(edited, &tab, &first) || tab != d->selected || first > tab)
            return false;
        replaced = book.workbookEntry;
    }

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!detail::writePackage(book.package, replaced, edited, &buffer))
        return false;
    buffer.close();

    // QSaveFile renames over the target, which would replace even a read-only file.
    const QFileInfo target(xlsxName);
    if (target.exists()) {
        QFile probe(xlsxName);
        if (target.isDir() || !probe.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
    }
    QSaveFile file(xlsxName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(buffer.data()) != buffer.data().size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace QXlsx
