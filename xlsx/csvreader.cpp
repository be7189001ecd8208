#include "csvreader.h"

#include "dateserial.h"

#include "core/readbudget.h"

#include <QLocale>
#include <QTextCodec>
#include <QVariant>

#include <cmath>

namespace QXlsx {
namespace detail {

namespace {

// GB18030 text through codec. Qt's own GB18030 decoder (the one without ICU,
// as on Windows) cuts a character past U+FFFF down to 16 bits, so the
// four-byte sequences for those (first byte 0x90-0xE3, in code point order)
// are decoded here and the bytes between them by the codec.
QString gb18030ToUnicode(const QTextCodec *codec, const QByteArray &bytes)
{
    const auto *b = reinterpret_cast<const uchar *>(bytes.constData());
    const int n = bytes.size();
    const auto lead = [](uchar c) { return c >= 0x81 && c <= 0xfe; };
    const auto digit = [](uchar c) { return c >= 0x30 && c <= 0x39; };
    QString text;
    int pending = 0; // first byte not yet decoded
    int i = 0;
    while (i < n) {
        if (b[i] < 0x80) {
            ++i;
        } else if (i + 3 < n && lead(b[i]) && digit(b[i + 1]) && lead(b[i + 2]) && digit(b[i + 3])) {
            const uint linear = ((uint(b[i] - 0x90) * 10 + (b[i + 1] - 0x30)) * 126 + (b[i + 2] - 0x81)) * 10
                                + (b[i + 3] - 0x30);
            if (b[i] >= 0x90 && linear <= 0x10ffff - 0x10000) {
                text += codec->toUnicode(bytes.constData() + pending, i - pending);
                const char32_t code = 0x10000 + linear;
                text += QString::fromUcs4(&code, 1);
                pending = i + 4;
            }
            i += 4;
        } else {
            i += 2;
        }
    }
    if (pending < n)
        text += codec->toUnicode(bytes.constData() + pending, n - pending);
    return text;
}

// UTF-8, with or without a byte-order mark, else GB18030.
bool decode(const QByteArray &bytes, QString *text)
{
    if (bytes.contains('\0'))
        return false;
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    const int skip = bom ? 3 : 0;
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    *text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData() + skip, bytes.size() - skip, &state);
    if (state.invalidChars != 0 || state.remainingChars != 0) {
        QTextCodec *gb18030 = QTextCodec::codecForName("GB18030");
        if (bom || !gb18030)
            return false;
        // The toolkit's GB18030 decoder need not count what it cannot decode;
        // bytes that do not come back the same were no GB18030.
        *text = gb18030ToUnicode(gb18030, bytes);
        if (gb18030->fromUnicode(*text) != bytes)
            return false;
    }
    for (const QChar c : qAsConst(*text)) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            return false;
    }
    return true;
}

// yyyy-mm-dd or yyyy/m/d, as a day number of the 1900 date system.
bool dateField(const QString &field, double *serial)
{
    if (isoDateSerial(field, false, serial))
        return true;
    const int n = field.size();
    if (n < 8 || n > 10 || field.at(4) != QLatin1Char('/'))
        return false;
    const int slash = field.indexOf(QLatin1Char('/'), 5);
    const int monthDigits = slash - 5;
    const int dayDigits = n - slash - 1;
    if (monthDigits < 1 || monthDigits > 2 || dayDigits < 1 || dayDigits > 2)
        return false;
    const int year = decimalDigits(field, 0, 4);
    const int month = decimalDigits(field, 5, monthDigits);
    const int day = decimalDigits(field, slash + 1, dayDigits);
    return year >= 0 && month >= 0 && day >= 0 && dateSerial(year, month, day, false, serial);
}

// A number only when it prints back as written: "00123", "1.50" and long ID
// numbers stay text.
bool numberField(const QString &field, double *number)
{
    for (const QChar c : field) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && c != QLatin1Char('.') && c != QLatin1Char('-') && c != QLatin1Char('+')
            && c != QLatin1Char('e') && c != QLatin1Char('E'))
            return false;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(field, &ok);
    if (!ok || !std::isfinite(value) || QVariant(value).toString() != field)
        return false;
    *number = value;
    return true;
}

QVariant fieldValue(const QString &field)
{
    double number;
    if (dateField(field, &number) || numberField(field, &number))
        return number;
    return field;
}

class FieldReader
{
public:
    explicit FieldReader(std::vector<CellEntry> *cells) : m_cells(cells) {}

    bool read(const QString &text)
    {
        const QChar *p = text.constData();
        const QChar *const end = p + text.size();
        bool quoted = false;
        bool fieldStart = true;
        qint64 line = 1;
        qint64 quoteLine = 0;
        while (p < end) {
            const QChar c = *p++;
            if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && !(p < end && *p == QLatin1Char('\n'))))
                ++line;
            if (quoted) {
                if (c != QLatin1Char('"'))
                    m_field += c;
                else if (p < end && *p == QLatin1Char('"'))
                    m_field += *p++;
                else
                    quoted = false;
                continue;
            }
            if (c == QLatin1Char('"') && fieldStart) {
                quoted = true;
                quoteLine = line;
                fieldStart = false;
            } else if (c == QLatin1Char(',')) {
                if (!endField())
                    return false;
                ++m_column;
                fieldStart = true;
            } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
                if (c == QLatin1Char('\r') && p < end && *p == QLatin1Char('\n'))
                    ++p, ++line;
                if (!endField())
                    return false;
                ++m_row;
                m_column = 1;
                fieldStart = true;
            } else {
                // Text after a closing quote, or a quote inside a field, is kept as it is.
                m_field += c;
                fieldStart = false;
            }
        }
        // A quote left open would swallow every record after it.
        if (quoted) {
            m_error = ReadError::atLine(ReadError::UnclosedQuote, quoteLine);
            return false;
        }
        return endField();
    }

    const ReadError &error() const { return m_error; }

private:
    bool endField()
    {
        if (m_field.isEmpty())
            return true;
        if (m_row > limits::Rows || m_column > limits::Columns || !m_budget.charge(ReadError::Cells)) {
            m_error = m_row > limits::Rows ? ReadError::reached(ReadError::Rows)
                : m_column > limits::Columns ? ReadError::reached(ReadError::Columns) : m_budget.exceeded();
            m_error.line = m_row;
            return false;
        }
        m_cells->push_back(CellEntry {m_row, m_column, Cell(fieldValue(m_field))});
        m_field.clear();
        return true;
    }

    std::vector<CellEntry> *m_cells;
    QString m_field;
    int m_row = 1;
    int m_column = 1;
    ReadBudget m_budget;
    ReadError m_error;
};

} // namespace

std::unique_ptr<Workbook> readCsv(const QByteArray &bytes, const QString &sheetName, ReadError *error)
{
    QString text;
    if (bytes.size() > limits::CsvBytes) {
        setReadError(error, ReadError::reached(ReadError::CsvBytes));
        return nullptr;
    }
    if (!decode(bytes, &text)) {
        setReadError(error, ReadError::at(ReadError::NotText));
        return nullptr;
    }
    std::unique_ptr<Workbook> book(new Workbook);
    book->sheets.resize(1);
    Sheet &sheet = book->sheets.front();
    sheet.name = sheetName;
    sheet.worksheet = true;
    FieldReader reader(&sheet.cells);
    if (!reader.read(text)) {
        setReadError(error, reader.error());
        return nullptr;
    }
    sheet.indexCells();
    return book;
}

} // namespace detail
} // namespace QXlsx
