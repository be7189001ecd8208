#include "xls/xlsreader.h"

#include "cfb/compoundfile.h"
#include "core/celltext.h"
#include "core/limits.h"
#include "core/littleendian.h"
#include "core/readbudget.h"
#include "xls/biffrecords.h"

#include <QTextCodec>

#include <algorithm>
#include <cmath>

namespace QXlsx {
namespace detail {

namespace {

constexpr quint16 Biff8Version = 0x0600;
constexpr quint16 Biff5Version = 0x0500;

double f64(const uchar *p)
{
    return doubleFromBits(le64(p));
}

QVariant number(double d)
{
    return std::isfinite(d) ? QVariant(d) : QVariant();
}

// An RK number: 30 bits of an integer or the high bits of a double, maybe
// to be divided by 100.
double rkValue(quint32 rk)
{
    const double d = rk & 0x02 ? double(qint32(rk) >> 2) : doubleFromBits(quint64(rk & 0xFFFFFFFCu) << 32);
    return rk & 0x01 ? d / 100 : d;
}

QVariant errorValue(quint8 code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    case 0x2A:
        return QStringLiteral("#N/A");
    case 0x2B:
        return QStringLiteral("#GETTING_DATA");
    default:
        return QVariant();
    }
}

struct BoundSheet
{
    qint64 record; // where its BOUNDSHEET record is
    quint32 offset; // of the sheet's BOF record in the stream
    quint8 state; // 0 visible, 1 hidden, 2 very hidden
    quint8 kind; // 0 worksheet, 1 macro sheet, 2 chart, 6 module
    QString name;
    QByteArray bytes; // the name as stored, in a BIFF5 file
};

class BookReader
{
public:
    BookReader(const QByteArray &stream, const QString &part, ReadError *error)
        : m_stream(stream), m_part(part), m_error(error)
    {
    }

    std::unique_ptr<Workbook> read();

private:
    bool readGlobals(Workbook *book);
    bool readBoundSheet(const RecordReader &r);
    bool readSst(const RecordReader &r);
    qint64 sheetStart(size_t index);
    bool readSheet(qint64 offset, Sheet *sheet);
    bool readCell(const RecordReader &r, Sheet *sheet);
    bool add(Sheet *sheet, const RecordReader &r, int columnOffset, QVariant value);
    bool readText(const RecordReader &r, int skip, QString *text) const;

    bool damaged(qint64 offset)
    {
        setReadError(m_error, ReadError::at(ReadError::DamagedRecord, m_part, offset));
        return false;
    }
    bool limitReached()
    {
        setReadError(m_error, m_budget.exceeded());
        return false;
    }

    const QByteArray &m_stream;
    const QString m_part;
    ReadError *m_error;
    ReadBudget m_budget;
    bool m_biff8 = true;
    QTextCodec *m_codec = nullptr; // of a BIFF5 workbook
    QVector<QString> m_strings;
    std::vector<BoundSheet> m_bound;
    qint64 m_globalsEnd = 0;
    std::vector<qint64> m_substreams; // the sheets' BOF records in stream order, once needed
    bool m_substreamsRead = false;
    qint64 m_sheetBytes = 0; // read for all sheets so far

    // Of the sheet being read.
    bool m_sorted = true;
    qint64 m_pendingString = -1; // the formula cell whose text the next STRING record holds
};

std::unique_ptr<Workbook> BookReader::read()
{
    std::unique_ptr<Workbook> book(new Workbook);
    if (!readGlobals(book.get()))
        return nullptr;
    if (m_bound.empty()) {
        setReadError(m_error, ReadError::at(ReadError::NotWorkbook, m_part));
        return nullptr;
    }
    book->sheets.resize(m_bound.size());
    for (size_t i = 0; i < m_bound.size(); ++i) {
        const BoundSheet &bound = m_bound[i];
        Sheet &sheet = book->sheets[i];
        sheet.name = m_biff8 ? bound.name : decodeCodePage(m_codec, bound.bytes);
        sheet.hidden = (bound.state & 0x03) != 0;
        // Chart, macro and module sheets have no cells, as chart sheets in a package.
        sheet.worksheet = bound.kind == 0;
        if (!sheet.worksheet)
            continue;
        const qint64 start = sheetStart(i);
        if (start < 0) {
            damaged(bound.record);
            return nullptr;
        }
        if (!readSheet(start, &sheet))
            return nullptr;
    }
    return book;
}

bool BookReader::readGlobals(Workbook *book)
{
    RecordReader r(m_stream);
    if (!r.seek(0) || r.type() != biff::Bof || r.size() < 4)
        return damaged(0);
    const quint16 version = le16(r.data());
    m_biff8 = version == Biff8Version || (version != Biff5Version && m_part == QLatin1String("Workbook"));
    if (!m_biff8)
        m_codec = codecForCodePage(1252);
    bool window = false;
    while (r.next() && r.type() != biff::Eof && r.type() != biff::Bof) {
        const uchar *d = r.data();
        const int size = r.size();
        switch (r.type()) {
        case biff::FilePass:
            setReadError(m_error, ReadError::at(ReadError::Encrypted, m_part, r.offset()));
            return false;
        case biff::CodePage:
            if (size < 2)
                return damaged(r.offset());
            if (m_biff8)
                break; // its text is UTF-16
            m_codec = codecForCodePage(le16(d));
            if (!m_codec) {
                // Its text would be read as another code page's.
                ReadError e = ReadError::at(ReadError::UnsupportedCodePage, m_part, r.offset());
                e.detail = QString::number(le16(d));
                setReadError(m_error, e);
                return false;
            }
            break;
        case biff::DateMode:
            if (size < 2)
                return damaged(r.offset());
            book->date1904 = le16(d) != 0;
            break;
        case biff::Window1:
            // The first window is the one a spreadsheet program opens with.
            if (size >= 14 && !window) {
                window = true;
                book->activeTab = le16(d + 10);
                book->firstSheet = le16(d + 12);
            }
            break;
        case biff::BoundSheet:
            if (!readBoundSheet(r))
                return false;
            break;
        case biff::Sst:
            if (m_biff8 && !readSst(r))
                return false;
            break;
        default:
            break;
        }
    }
    if (r.damaged())
        return damaged(r.offset());
    m_globalsEnd = r.type() == biff::Bof ? r.offset() : r.end();
    return true;
}

bool BookReader::readBoundSheet(const RecordReader &r)
{
    BoundSheet bound;
    RecordCursor c = r.cursor();
    quint32 offset = 0;
    quint8 state = 0;
    quint8 kind = 0;
    quint8 length = 0;
    const bool ok = c.u32(&offset) && c.u8(&state) && c.u8(&kind);
    if (!ok || !(m_biff8 ? readUnicodeString(c, false, &bound.name) : c.u8(&length) && c.bytes(length, &bound.bytes)))
        return damaged(r.offset());
    if (!m_budget.charge(ReadError::Sheets))
        return limitReached();
    bound.record = r.offset();
    bound.offset = offset;
    bound.state = state;
    bound.kind = kind;
    m_bound.push_back(std::move(bound));
    return true;
}

bool BookReader::readSst(const RecordReader &r)
{
    RecordCursor c = r.cursor();
    quint32 total = 0;
    quint32 unique = 0;
    if (!c.u32(&total) || !c.u32(&unique))
        return damaged(r.offset());
    // Each string takes three bytes at least.
    m_strings.reserve(int(std::min<qint64>(unique, m_stream.size() / 3)));
    // Some writers count more strings than they write.
    for (quint32 i = 0; i < unique && !c.atEnd(); ++i) {
        if (!m_budget.charge(ReadError::SharedStrings))
            return limitReached();
        QString text;
        if (!readUnicodeString(c, true, &text))
            return damaged(r.offset());
        m_strings.append(cellText(std::move(text)));
    }
    return true;
}

// Where sheet index starts: where its BOUNDSHEET record says, or else the
// index-th sheet after the workbook globals; -1 when neither is a BOF record.
qint64 BookReader::sheetStart(size_t index)
{
    RecordReader r(m_stream);
    const qint64 said = m_bound[index].offset;
    if (said >= m_globalsEnd && r.seek(said) && r.type() == biff::Bof)
        return said;
    if (!m_substreamsRead) {
        m_substreamsRead = true;
        int depth = 0;
        for (bool ok = r.seek(m_globalsEnd); ok; ok = r.next()) {
            if (r.type() == biff::Bof && depth++ == 0)
                m_substreams.push_back(r.offset());
            else if (r.type() == biff::Eof && depth > 0)
                --depth;
        }
    }
    return index < m_substreams.size() ? m_substreams[index] : -1;
}

bool BookReader::readSheet(qint64 offset, Sheet *sheet)
{
    RecordReader r(m_stream);
    r.seek(offset);
    m_sorted = true;
    m_pendingString = -1;
    // Charts embedded in the sheet are substreams of their own inside it.
    int depth = 1;
    qint64 end = offset;
    while (r.next()) {
        end = r.end();
        const quint16 type = r.type();
        if (type == biff::Bof) {
            ++depth;
        } else if (type == biff::Eof) {
            if (--depth == 0)
                break;
        } else if (depth == 1 && !readCell(r, sheet)) {
            return false;
        }
    }
    if (r.damaged())
        return damaged(r.offset());
    // Sheets do not share records: a file whose sheets all say they start
    // at the same place is not read over and over.
    m_sheetBytes += end - offset;
    if (m_sheetBytes > m_stream.size())
        return damaged(offset);

    if (!m_sorted)
        sheet->sortCells();
    sheet->indexCells();
    return true;
}

// Adds a cell in the row of cell record r, columnOffset columns right of its first column.
bool BookReader::add(Sheet *sheet, const RecordReader &r, int columnOffset, QVariant value)
{
    m_pendingString = -1;
    const int column = le16(r.data() + 2) + columnOffset;
    if (column >= limits::Columns)
        return damaged(r.offset());
    if (!m_budget.charge(ReadError::Cells))
        return limitReached();
    const int row = le16(r.data()) + 1;
    auto &cells = sheet->cells;
    if (!cells.empty()) {
        const CellEntry &last = cells.back();
        if (row < last.row || (row == last.row && column + 1 <= last.column))
            m_sorted = false;
    }
    cells.push_back(CellEntry {row, column + 1, Cell(std::move(value))});
    return true;
}

// The text of a LABEL, RSTRING or STRING record, skip bytes in. When it goes
// on in CONTINUE records, these start with a flag byte as in the shared
// strings; some writers cut the record anywhere instead, even inside a
// character, and go on without one. Whichever reading takes up the bytes of
// the record exactly is the one.
bool BookReader::readText(const RecordReader &r, int skip, QString *text) const
{
    enum Fit { None, Loose, Exact };
    const auto read = [&](RecordCursor c) {
        if (!c.skip(skip) || !(m_biff8 ? readUnicodeString(c, true, text) : readByteString(c, true, m_codec, text)))
            return None;
        if (r.type() != biff::RString)
            return c.atEnd() ? Exact : Loose;
        // Then the formatting runs: their count, and four bytes each (two in BIFF5).
        quint16 runs = 0;
        quint8 shortRuns = 0;
        if (m_biff8 ? !c.u16(&runs) : !c.u8(&shortRuns))
            return Loose;
        return c.remaining() == (m_biff8 ? 4 * qint64(runs) : 2 * qint64(shortRuns)) ? Exact : Loose;
    };
    if (r.continued()) {
        const QByteArray joined = r.joined();
        const RecordPiece whole {reinterpret_cast<const uchar *>(joined.constData()), joined.size()};
        if (read(RecordCursor(&whole, 1)) == Exact)
            return true;
    }
    return read(r.cursor()) != None;
}

bool BookReader::readCell(const RecordReader &r, Sheet *sheet)
{
    const uchar *d = r.data();
    const int size = r.size();
    // Every cell record starts with its row, its column and its format.
    const auto need = [&](int bytes) { return size >= bytes || damaged(r.offset()); };
    const auto cell = [&](QVariant value) { return add(sheet, r, 0, std::move(value)); };
    switch (r.type()) {
    case biff::Number:
        return need(14) && cell(number(f64(d + 6)));
    case biff::Rk:
        return need(10) && cell(number(rkValue(le32(d + 6))));
    case biff::MulRk: {
        if (!need(12))
            return false;
        const int n = (size - 6) / 6;
        for (int i = 0; i < n; ++i) {
            if (!add(sheet, r, i, number(rkValue(le32(d + 6 + 6 * i)))))
                return false;
        }
        return true;
    }
    case biff::Blank:
        return need(6) && cell(QVariant());
    case biff::MulBlank: {
        if (!need(8))
            return false;
        const int n = (size - 6) / 2;
        for (int i = 0; i < n; ++i) {
            if (!add(sheet, r, i, QVariant()))
                return false;
        }
        return true;
    }
    case biff::LabelSst: {
        if (!need(10))
            return false;
        // An index past the strings read (or an SST that holds fewer than
        // the cells use) would leave the cell silently empty.
        const quint32 index = le32(d + 6);
        return (index < quint32(m_strings.size()) || damaged(r.offset())) && cell(m_strings.at(int(index)));
    }
    case biff::Label:
    case biff::RString: {
        QString text;
        return need(8) && (readText(r, 6, &text) || damaged(r.offset())) && cell(cellText(std::move(text)));
    }
    case biff::BoolErr:
        return need(8) && cell(d[7] ? errorValue(d[6]) : QVariant(d[6] != 0));
    case biff::Formula:
    case biff::Formula3:
    case biff::Formula4: {
        if (!need(16))
            return false;
        // A result that is no number is marked by 0xFFFF in the top bytes
        // of the double; its first byte tells the kind.
        if (le16(d + 12) != 0xFFFF)
            return cell(number(f64(d + 6)));
        switch (d[6]) {
        case 0:
            // The text is in the STRING record that follows.
            if (!cell(QVariant()))
                return false;
            m_pendingString = qint64(sheet->cells.size()) - 1;
            return true;
        case 1:
            return cell(QVariant(d[8] != 0));
        case 2:
            return cell(errorValue(d[8]));
        case 3:
            return cell(QString(QLatin1String("")));
        default:
            return cell(QVariant());
        }
    }
    case biff::String: {
        if (m_pendingString < 0)
            return true;
        QString text;
        if (!readText(r, 0, &text))
            return damaged(r.offset());
        sheet->cells[size_t(m_pendingString)].cell = Cell(cellText(std::move(text)));
        m_pendingString = -1;
        return true;
    }
    default:
        return true;
    }
}

} // namespace

std::unique_ptr<Workbook> readXls(const QByteArray &bytes, ReadError *error)
{
    CompoundFile file;
    if (!file.open(bytes, error))
        return nullptr;
    // A workbook saved in both formats at once has both streams; the newer is read.
    QString part = QStringLiteral("Workbook");
    int entry = file.findStream(part);
    if (entry < 0) {
        part = QStringLiteral("Book");
        entry = file.findStream(part);
    }
    if (entry < 0) {
        // An encrypted .xlsx is a compound file too.
        const bool encrypted = file.findStream(QStringLiteral("EncryptedPackage")) >= 0;
        setReadError(error, ReadError::at(encrypted ? ReadError::Encrypted : ReadError::NotWorkbook));
        return nullptr;
    }
    QByteArray stream;
    if (!file.readStream(entry, &stream, error))
        return nullptr;
    return BookReader(stream, part, error).read();
}

} // namespace detail
} // namespace QXlsx
