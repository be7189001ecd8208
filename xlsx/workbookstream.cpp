#include "workbookstream.h"

#include <QDataStream>

#include <cmath>

namespace QXlsx {
namespace detail {

namespace {

constexpr quint32 Magic = 0x4b584c53; // "KXLS"
constexpr QDataStream::Version Version = QDataStream::Qt_5_12;
enum Kind : quint8 { Number, Text };

} // namespace

bool writeSheets(const Workbook &book, QIODevice *out)
{
    QDataStream stream(out);
    stream.setVersion(Version);
    stream << Magic << book.date1904 << quint32(book.sheets.size());
    for (const Sheet &sheet : book.sheets) {
        stream << sheet.name << quint32(sheet.cells.size());
        for (const CellEntry &entry : sheet.cells) {
            const QVariant value = entry.cell.value();
            stream << qint32(entry.row) << qint32(entry.column);
            if (value.type() == QVariant::Double)
                stream << quint8(Number) << value.toDouble();
            else if (value.type() == QVariant::String)
                stream << quint8(Text) << value.toString();
            else
                return false;
        }
    }
    return stream.status() == QDataStream::Ok;
}

std::unique_ptr<Workbook> readSheets(QIODevice *in)
{
    QDataStream stream(in);
    stream.setVersion(Version);
    quint32 magic = 0;
    quint32 count = 0;
    std::unique_ptr<Workbook> book(new Workbook);
    stream >> magic >> book->date1904 >> count;
    if (stream.status() != QDataStream::Ok || magic != Magic || count == 0 || count > 0xFFFF)
        return nullptr;
    book->sheets.resize(count);
    qint64 cellsLeft = limits::Cells;
    for (Sheet &sheet : book->sheets) {
        quint32 cells = 0;
        stream >> sheet.name >> cells;
        cellsLeft -= cells;
        if (stream.status() != QDataStream::Ok || cellsLeft < 0)
            return nullptr;
        sheet.worksheet = true;
        sheet.cells.reserve(cells);
        for (quint32 i = 0; i < cells; ++i) {
            qint32 row = 0;
            qint32 column = 0;
            quint8 kind = 0;
            stream >> row >> column >> kind;
            QVariant value;
            if (kind == Number) {
                double number = 0;
                stream >> number;
                if (!std::isfinite(number))
                    return nullptr;
                value = number;
            } else if (kind == Text) {
                QString text;
                stream >> text;
                value = text;
            } else {
                return nullptr;
            }
            const bool inOrder = sheet.cells.empty() || sheet.cells.back().row < row
                || (sheet.cells.back().row == row && sheet.cells.back().column < column);
            if (stream.status() != QDataStream::Ok || row < 1 || row > limits::Rows || column < 1 || column > limits::Columns
                || !inOrder)
                return nullptr;
            sheet.cells.push_back(CellEntry {row, column, Cell(std::move(value))});
        }
        sheet.indexCells();
    }
    if (!stream.atEnd())
        return nullptr;
    return book;
}

} // namespace detail
} // namespace QXlsx
