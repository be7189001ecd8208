// libFuzzer target for the workbook readers; built with -DKESTROVA_FUZZ=ON by
// scripts/fuzz-xlsx.sh. The first byte picks what the rest is:
//   0  a whole package
//   1  the first worksheet part of a small package (with shared strings),
//      also given to the selected-tab edit alone
//   2  its shared strings part
//   3  its workbook part
//   4  a workbook part given to the active-tab edit alone
//   5  CSV text
//   6  an .xls file (FreeXL reads it from a file, so it is written to one),
//      read here in-process; the sheets must come through the hand-over
//      between processes unchanged
// Besides crashes, it stops on broken invariants: cells out of order, an index
// or a range that does not match them, an edit that does not read back, a
// package that is not written back as read, or does not load again once
// written with its workbook part edited; zip entries that share bytes or lie
// outside the file, or that read to their end with another size or CRC than
// their central record's.

#include "csvreader.h"
#include "workbookstream.h"
#include "xlsreader.h"
#include "xlsxworkbook.h"
#include "zip/zipentryreader.h"
#include "zip/zipwriter.h"
#include "zipbuilder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace QXlsx::detail;
namespace limits = QXlsx::limits;

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

const QByteArray Rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const QByteArray Pkg = "http://schemas.openxmlformats.org/package/2006/relationships";

QByteArray package(int fuzzed, const QByteArray &data)
{
    const QByteArray workbook = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + Rel
        + "\"><bookViews><workbookView activeTab=\"1\"/></bookViews><sheets><sheet name=\"a\" sheetId=\"1\" r:id=\"rId1\"/>"
          "<sheet name=\"b\" sheetId=\"2\" r:id=\"rId2\"/><sheet name=\"c\" sheetId=\"3\" r:id=\"rId3\"/></sheets></workbook>";
    const QByteArray sheet = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
                             "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>1.5</v></c></row></sheetData></worksheet>";
    const QByteArray strings = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>x</t></si>"
                               "<si><r><t>y</t></r></si></sst>";
    const std::pair<const char *, QByteArray> parts[] = {
        {"_rels/.rels", "<Relationships xmlns=\"" + Pkg + "\"><Relationship Id=\"rId1\" Type=\"" + Rel
                            + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", fuzzed == 3 ? data : workbook},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"" + Pkg + "\"><Relationship Id=\"rId1\" Type=\"" + Rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
             "<Relationship Id=\"rId2\" Type=\"" + Rel + "/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
             "<Relationship Id=\"rId3\" Type=\"" + Rel + "/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>"
             "<Relationship Id=\"rId4\" Type=\"" + Rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml", fuzzed == 1 ? data : sheet},
        {"xl/worksheets/sheet2.xml", sheet},
        {"xl/sharedStrings.xml", fuzzed == 2 ? data : strings},
    };
    xlsxtest::ZipBuilder zip;
    for (const auto &part : parts)
        zip.add(part.first, part.second, 0);
    return zip.finish();
}

// Every entry of a zip the package takes lies apart within the bytes, and
// reads (up to a small cap) to its end only with the central record's size and CRC.
void checkZip(const QByteArray &bytes)
{
    Package package;
    if (!package.open(bytes, nullptr))
        return;
    std::vector<const ZipEntryLayout *> entries;
    for (int i = 0; i < package.size(); ++i)
        entries.push_back(&package.entry(i));
    std::sort(entries.begin(), entries.end(), [](const ZipEntryLayout *a, const ZipEntryLayout *b) { return a->local < b->local; });
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipEntryLayout &e = *entries[i];
        check(e.local >= 0 && e.data >= e.local + zip::local::Size && e.data + qint64(e.compressed) <= e.end
                  && e.end <= bytes.size() && (i + 1 == entries.size() || e.end <= entries[i + 1]->local),
              "entry outside the file or sharing bytes");
        EntryReader reader(bytes, e, 1 << 20);
        QByteArray chunk;
        quint32 crc = 0;
        while (reader.next(&chunk))
            crc = quint32(crc32(crc, reinterpret_cast<const Bytef *>(chunk.constData()), uInt(chunk.size())));
        if (!reader.failed())
            check(quint64(reader.inflated()) == e.uncompressed && crc == e.record.crc(), "entry read with another size or CRC");
    }
}

void checkSheet(Sheet &sheet)
{
    check(sheet.worksheet || sheet.cells.empty(), "cells outside a worksheet");
    if (sheet.cells.empty()) {
        check(!sheet.range.isValid() && sheet.rows.empty(), "range of an empty sheet");
        return;
    }
    const QXlsx::CellRange r = sheet.range;
    check(r.isValid(), "range invalid");
    size_t row = 0;
    for (size_t i = 0; i < sheet.cells.size(); ++i) {
        CellEntry &c = sheet.cells[i];
        check(c.row >= 1 && c.row <= limits::Rows && c.column >= 1 && c.column <= limits::Columns, "cell outside the sheet");
        check(c.row >= r.firstRow() && c.row <= r.lastRow() && c.column >= r.firstColumn() && c.column <= r.lastColumn(), "cell outside range");
        if (i > 0) {
            const CellEntry &p = sheet.cells[i - 1];
            check(p.row < c.row || (p.row == c.row && p.column < c.column), "cells out of order");
        }
        if (row + 1 < sheet.rows.size() && size_t(sheet.rows[row + 1].begin) == i)
            ++row;
        check(sheet.rows[row].row == c.row, "row index");
        check(sheet.find(c.row, c.column) == &c.cell, "lookup");
        const QVariant::Type t = c.cell.value().type();
        check(t == QVariant::Invalid || t == QVariant::Double || t == QVariant::String || t == QVariant::Bool
                  || t == QVariant::DateTime || t == QVariant::Time, "value type");
    }
    check(sheet.cells.front().row == r.firstRow() && sheet.cells.back().row == r.lastRow(), "range rows");
    check(!sheet.find(r.lastRow() + 1, r.firstColumn()) && !sheet.find(r.firstRow(), r.lastColumn() + 1), "lookup outside");
}

void checkEdit(const QByteArray &xml, int tab)
{
    QByteArray out;
    if (!markActiveTab(xml, tab, tab / 2, &out))
        return;
    int active = -1;
    int first = -1;
    // An edit of a part that reads as a workbook must read as one too, with the tab set.
    int before = -1;
    int beforeFirst = -1;
    if (readBookView(xml, &before, &beforeFirst)) {
        check(readBookView(out, &active, &first), "edited part does not read");
        check(active == tab && first == tab / 2, "edited part has another tab");
    }
}

void checkSheetEdit(const QByteArray &xml)
{
    bool hasView = false;
    bool selected = false;
    // An edit of a part whose views read must read as asked.
    if (!readTabSelected(xml, &hasView, &selected) || !hasView)
        return;
    for (const bool want : {false, true}) {
        QByteArray out;
        if (!markTabSelected(xml, want, &out))
            continue;
        check(readTabSelected(out, &hasView, &selected), "edited sheet part does not read");
        check(selected == want, "edited sheet part has another selection");
    }
}

void checkSheets(Workbook &book)
{
    check(!book.sheets.empty(), "loaded without sheets");
    for (Sheet &sheet : book.sheets)
        checkSheet(sheet);
}

void readCsvText(const QByteArray &input)
{
    std::unique_ptr<Workbook> book = readCsv(input, QStringLiteral("device"));
    if (!book)
        return;
    check(book->sheets.size() == 1 && book->sheets[0].name == QLatin1String("device"), "one sheet named after the file");
    check(book->sheets[0].worksheet && book->workbookEntry < 0 && !book->date1904, "CSV workbook");
    checkSheets(*book);
}

void readXlsFile(const QByteArray &input)
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("kestrova-fuzz-%1.xls").arg(QCoreApplication::applicationPid()));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            std::abort();
    }
    std::unique_ptr<Workbook> book = readXls(path);
    QFile::remove(path);
    if (!book)
        return;
    check(book->workbookEntry < 0, ".xls workbook");
    for (const Sheet &sheet : book->sheets)
        check(sheet.worksheet, "sheet without cells");
    checkSheets(*book);

    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    check(writeSheets(*book, &stream), "sheets not handed over");
    stream.seek(0);
    std::unique_ptr<Workbook> again = readSheets(&stream);
    check(again && again->date1904 == book->date1904 && again->sheets.size() == book->sheets.size(), "hand-over");
    for (size_t i = 0; i < book->sheets.size(); ++i) {
        const Sheet &a = book->sheets[i];
        const Sheet &b = again->sheets[i];
        check(a.name == b.name && a.cells.size() == b.cells.size(), "sheet changed in the hand-over");
        for (size_t j = 0; j < a.cells.size(); ++j)
            check(a.cells[j].row == b.cells[j].row && a.cells[j].column == b.cells[j].column
                      && a.cells[j].cell.value() == b.cells[j].cell.value(), "cell changed in the hand-over");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4 * 1024 * 1024)
        return 0;
    const int mode = data[0] % 7;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    if (mode == 4) {
        checkEdit(input, 0);
        checkEdit(input, 3);
        return 0;
    }
    if (mode == 1)
        checkSheetEdit(input);
    if (mode == 5) {
        readCsvText(input);
        return 0;
    }
    if (mode == 6) {
        readXlsFile(input);
        return 0;
    }
    const QByteArray bytes = mode == 0 ? input : package(mode, input);
    if (mode == 0)
        checkZip(bytes);
    std::unique_ptr<Workbook> book = readWorkbook(bytes);
    if (!book)
        return 0;
    checkSheets(*book);

    QByteArray xml;
    const int tab = int(book->sheets.size()) - 1;
    if (inflatePart(*book, book->workbookEntry, limits::OtherPartBytes, &xml))
        checkEdit(xml, tab);

    QBuffer same;
    same.open(QIODevice::WriteOnly);
    check(writePackage(book->package.bytes(), book->package.layout(), {}, &same) && same.data() == bytes, "unedited package not written as read");

    // A package the reader took is written with the edited parts, or refused;
    // once written it reads back with those parts and every sheet as before.
    std::map<int, QByteArray> replacements;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    if (selectionEdits(*book, tab, &replacements)
        && writePackage(book->package.bytes(), book->package.layout(), replacements, &out)) {
        std::unique_ptr<Workbook> again = readWorkbook(out.data());
        check(again != nullptr, "written package does not load");
        for (const auto &replaced : replacements) {
            QByteArray written;
            check(inflatePart(*again, replaced.first, limits::SheetPartBytes, &written) && written == replaced.second,
                  "replaced part not as given");
        }
        check(again->sheets.size() == book->sheets.size(), "sheets lost");
        for (size_t i = 0; i < book->sheets.size(); ++i) {
            check(again->sheets[i].name == book->sheets[i].name, "sheet name changed");
            check(again->sheets[i].cells.size() == book->sheets[i].cells.size(), "cells lost");
        }
    }
    return 0;
}
