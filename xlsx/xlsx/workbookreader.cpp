#include "xlsx/workbookreader.h"

#include "xlsx/partreader.h"
#include "xlsx/relationships.h"
#include "xlsx/sharedstrings.h"
#include "xlsx/sheetparser.h"
#include "xlsx/workbookpart.h"

#include <QHash>
#include <QVector>

namespace QXlsx {
namespace detail {

namespace {

// What the workbook part and the parts around it say, before any sheet is read.
struct BookParts
{
    QString workbookName;
    WorkbookInfo info;
    QString relsName;
    Relationships rels;
    QHash<QString, size_t> relIndex; // the first of rels with each id
    QVector<QString> strings;
};

// The workbook part, found through the package's relationships, read with its
// own relationships and the shared strings.
bool readBookParts(XlsxBook *book, PartReader &parts, BookParts *out)
{
    const Package &package = book->package;
    Relationships packageRels;
    const QString packageRelsName = QStringLiteral("_rels/.rels");
    const int packageRelsEntry = package.find(packageRelsName);
    if (packageRelsEntry < 0)
        return parts.missing(packageRelsName);
    if (!parts.read(packageRelsEntry, ReadError::OtherPartBytes, [&](XmlReader &x) { return parseRelationships(x, &packageRels); }))
        return false;
    const Relationship *office = findRelationship(packageRels, "officeDocument");
    if (!office)
        return parts.missing(packageRelsName);
    out->workbookName = resolveTarget(QString(), office->target);
    book->workbookEntry = findPart(package, out->workbookName);
    if (book->workbookEntry < 0)
        return parts.missing(out->workbookName);

    if (!parts.read(book->workbookEntry, ReadError::OtherPartBytes, [&](XmlReader &x) { return parseWorkbook(x, &out->info, parts.budget()); }))
        return false;
    if (out->info.sheets.empty())
        return parts.missing(out->workbookName);

    out->relsName = relationshipsPart(out->workbookName);
    const int relsEntry = findPart(package, out->relsName);
    if (relsEntry >= 0 && !parts.read(relsEntry, ReadError::OtherPartBytes, [&](XmlReader &x) { return parseRelationships(x, &out->rels); }))
        return false;
    out->relIndex.reserve(int(out->rels.size()));
    for (size_t i = 0; i < out->rels.size(); ++i) {
        if (!out->relIndex.contains(out->rels[i].id))
            out->relIndex.insert(out->rels[i].id, i);
    }

    if (const Relationship *shared = findRelationship(out->rels, "sharedStrings")) {
        const QString name = resolveTarget(out->workbookName, shared->target);
        const int entry = findPart(package, name);
        if (entry < 0)
            return parts.missing(name);
        if (!parts.read(entry, ReadError::PartBytes, [&](XmlReader &x) { return parseSharedStrings(x, &out->strings, parts.budget()); }))
            return false;
    }
    return true;
}

// Sheet i of the workbook part: a worksheet's cells, or only the views of a
// chart, dialog or macro sheet.
bool readSheet(XlsxBook *book, PartReader &parts, const BookParts &bookParts, size_t i)
{
    const Package &package = book->package;
    const SheetRef &ref = bookParts.info.sheets[i];
    Sheet &sheet = book->sheets[i];
    SheetPart &part = book->parts[i];
    sheet.name = ref.name;
    sheet.hidden = ref.hidden;
    const auto found = bookParts.relIndex.constFind(ref.relId);
    if (found == bookParts.relIndex.constEnd())
        return parts.missing(bookParts.relsName);
    const Relationship *rel = &bookParts.rels[*found];
    const QString name = resolveTarget(bookParts.workbookName, rel->target);
    const int entry = rel->external ? -1 : findPart(package, name);
    if (!hasType(*rel, "worksheet")) {
        // No cells to read, only its views; a part that does not read is left
        // alone, but what it inflated counts all the same.
        if (entry >= 0 && parts.readOptional(entry, ReadError::OtherPartBytes, [&](XmlReader &x) { return readViews(x, &part); }))
            part.entry = entry;
        else
            part = SheetPart();
        return !parts.failed();
    }
    if (entry < 0)
        return parts.missing(name);
    sheet.worksheet = true;
    part.entry = entry;
    const bool date1904 = bookParts.info.date1904;
    return parts.read(entry, ReadError::PartBytes, [&](XmlReader &x) {
        return parseSheet(x, &sheet, &part, bookParts.strings, parts.budget(), date1904);
    });
}

} // namespace

std::unique_ptr<XlsxBook> readWorkbook(const QByteArray &bytes, ReadError *error)
{
    std::unique_ptr<XlsxBook> book(new XlsxBook);
    if (!book->package.open(bytes, error))
        return nullptr;
    PartReader parts(book->package, error);
    BookParts bookParts;
    if (!readBookParts(book.get(), parts, &bookParts))
        return nullptr;

    const size_t count = bookParts.info.sheets.size();
    book->sheets.resize(count);
    book->parts.resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (!readSheet(book.get(), parts, bookParts, i))
            return nullptr;
    }
    book->date1904 = bookParts.info.date1904;
    book->activeTab = bookParts.info.activeTab;
    book->firstSheet = bookParts.info.firstSheet;
    return book;
}

} // namespace detail
} // namespace QXlsx
