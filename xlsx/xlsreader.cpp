#include "xlsreader.h"

#include "dateserial.h"

#include <freexl.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>

namespace QXlsx {
namespace detail {

namespace {

// FreeXL reads the whole file, and makes a cell for every position within
// each sheet's dimensions while it opens it (the program runs this in a
// process of its own); past that, the positions are checked before any cell
// is read here.
constexpr qint64 MaxXlsBytes = 256 * 1024 * 1024;

class XlsHandle
{
public:
    XlsHandle() = default;
    XlsHandle(const XlsHandle &) = delete;
    XlsHandle &operator=(const XlsHandle &) = delete;
    ~XlsHandle()
    {
        // Closed even when opening failed, as FreeXL asks.
        if (m_handle)
            freexl_close(m_handle);
    }

    // freexl_open_info would read the file twice for nothing: it makes the
    // same cells, and crashes on damaged files that freexl_open turns down.
    bool open(const QByteArray &path)
    {
        // Some damaged files give FREEXL_OK without a handle.
        return freexl_open(path.constData(), &m_handle) == FREEXL_OK && m_handle;
    }

    const void *get() const { return m_handle; }

private:
    const void *m_handle = nullptr;
};

bool info(const XlsHandle &xls, unsigned short what, unsigned int *value)
{
    return freexl_get_info(xls.get(), what, value) == FREEXL_OK;
}

bool sheetCount(const XlsHandle &xls, unsigned short *count)
{
    unsigned int n = 0;
    if (!info(xls, FREEXL_BIFF_SHEET_COUNT, &n) || n > 0xFFFF)
        return false;
    *count = static_cast<unsigned short>(n);
    return true;
}

bool selectSheet(const XlsHandle &xls, unsigned short index, unsigned int *rows, unsigned short *columns)
{
    return freexl_select_active_worksheet(xls.get(), index) == FREEXL_OK
        && freexl_worksheet_dimensions(xls.get(), rows, columns) == FREEXL_OK && *rows <= unsigned(limits::Rows)
        && *columns <= limits::Columns;
}

// A plain workbook with sheets that hold no more positions than the cell limit.
bool acceptable(const XlsHandle &xls)
{
    unsigned int password = 0;
    unsigned short count = 0;
    if (!info(xls, FREEXL_BIFF_PASSWORD, &password) || password == FREEXL_BIFF_OBFUSCATED || !sheetCount(xls, &count)
        || count == 0)
        return false;
    qint64 positions = 0;
    for (unsigned short i = 0; i < count; ++i) {
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (!selectSheet(xls, i, &rows, &columns))
            return false;
        positions += qint64(rows) * columns;
        if (positions > limits::Cells)
            return false;
    }
    return true;
}

// FreeXL gives date and time cells as "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or
// "HH:MM:SS"; this is the serial number the cell holds, to the second.
bool dateTimeSerial(QStringView text, unsigned char type, bool date1904, double *serial)
{
    double days = 0;
    QStringView time = text;
    if (type != FREEXL_CELL_TIME) {
        if (!isoDateSerial(text.left(10), date1904, &days))
            return false;
        if (type == FREEXL_CELL_DATE) {
            *serial = days;
            return text.size() == 10;
        }
        if (text.size() != 19 || text.at(10) != QLatin1Char(' '))
            return false;
        time = text.mid(11);
    }
    if (time.size() != 8 || time.at(2) != QLatin1Char(':') || time.at(5) != QLatin1Char(':'))
        return false;
    const int h = decimalDigits(time, 0, 2);
    const int m = decimalDigits(time, 3, 2);
    const int s = decimalDigits(time, 6, 2);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
        return false;
    *serial = days + (h * 3600 + m * 60 + s) / 86400.0;
    return true;
}

// An invalid *value for a position without one; false for a value no sheet holds.
bool cellValue(const FreeXL_CellValue &cell, bool date1904, QVariant *value)
{
    switch (cell.type) {
    case FREEXL_CELL_NULL:
        return true;
    case FREEXL_CELL_INT:
        *value = double(cell.value.int_value);
        return true;
    case FREEXL_CELL_DOUBLE:
        if (!std::isfinite(cell.value.double_value))
            return false;
        *value = cell.value.double_value;
        return true;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        *value = QString::fromUtf8(cell.value.text_value ? cell.value.text_value : "");
        return true;
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME: {
        const QString text = QString::fromUtf8(cell.value.text_value ? cell.value.text_value : "");
        double serial;
        if (dateTimeSerial(text, cell.type, date1904, &serial))
            *value = serial;
        else
            *value = text;
        return true;
    }
    default:
        return false;
    }
}

bool readSheet(const XlsHandle &xls, unsigned short index, bool date1904, int *cellsLeft, Sheet *sheet)
{
    const char *name = nullptr;
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_get_worksheet_name(xls.get(), index, &name) != FREEXL_OK || !name
        || !selectSheet(xls, index, &rows, &columns))
        return false;
    sheet->name = QString::fromUtf8(name);
    sheet->worksheet = true;
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue cell;
            QVariant value;
            if (freexl_get_cell_value(xls.get(), r, c, &cell) != FREEXL_OK || !cellValue(cell, date1904, &value))
                return false;
            if (!value.isValid())
                continue;
            if (--*cellsLeft < 0)
                return false;
            sheet->cells.push_back(CellEntry {int(r) + 1, int(c) + 1, Cell(std::move(value))});
        }
    }
    sheet->indexCells();
    return true;
}

} // namespace

std::unique_ptr<Workbook> readXls(const QString &path)
{
    if (QFileInfo(path).size() > MaxXlsBytes)
        return nullptr;
    // FreeXL opens files by narrow name; a path the local code page cannot
    // spell (possible on Windows) is read from a copy.
    QByteArray name = QFile::encodeName(path);
    QTemporaryDir copyDir;
    if (QFile::decodeName(name) != path) {
        const QString copy = copyDir.filePath(QStringLiteral("book.xls"));
        if (!copyDir.isValid() || !QFile::copy(path, copy))
            return nullptr;
        name = QFile::encodeName(copy);
    }

    XlsHandle xls;
    unsigned int dateMode = 0;
    unsigned short count = 0;
    if (!xls.open(name) || !acceptable(xls) || !info(xls, FREEXL_BIFF_DATEMODE, &dateMode) || !sheetCount(xls, &count))
        return nullptr;

    std::unique_ptr<Workbook> book(new Workbook);
    book->date1904 = dateMode == FREEXL_BIFF_DATEMODE_1904;
    book->sheets.resize(count);
    int cellsLeft = limits::Cells;
    for (unsigned short i = 0; i < count; ++i) {
        if (!readSheet(xls, i, book->date1904, &cellsLeft, &book->sheets[i]))
            return nullptr;
    }
    return book;
}

} // namespace detail
} // namespace QXlsx
