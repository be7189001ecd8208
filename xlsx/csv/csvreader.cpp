#include "csv/csvreader.h"

#include "core/celltext.h"
#include "core/dateserial.h"
#include "core/limits.h"
#include "core/readbudget.h"
#include "core/utf8.h"

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

enum class Encoding { Utf8, Gb18030 };

// Byte sequences GB18030 has: one byte below 0x80, two bytes (lead 0x81-0xFE,
// trail 0x40-0x7E or 0x80-0xFE), four bytes (0x81-0xFE, 0x30-0x39, 0x81-0xFE,
// 0x30-0x39). Separators, quotes and line breaks are never part of a longer one.
bool isGb18030(const char *p, const char *end)
{
    const auto lead = [](uchar c) { return c >= 0x81 && c <= 0xfe; };
    const auto digit = [](uchar c) { return c >= 0x30 && c <= 0x39; };
    while (p < end) {
        const uchar c = uchar(*p++);
        if (c < 0x80)
            continue;
        if (!lead(c) || p == end)
            return false;
        const uchar t = uchar(*p++);
        if ((t >= 0x40 && t <= 0x7e) || (t >= 0x80 && t <= 0xfe))
            continue;
        if (!digit(t) || end - p < 2 || !lead(uchar(p[0])) || !digit(uchar(p[1])))
            return false;
        p += 2;
    }
    return true;
}

// How well bytes read as UTF-8: the characters past ASCII that are whole,
// the bytes that belong to none, and where the first of those is.
struct Utf8Fit
{
    qint64 characters = 0;
    qint64 strayBytes = 0;
    qint64 firstStray = -1;
};

Utf8Fit utf8Fit(const char *text, qint64 n)
{
    Utf8Fit fit;
    qint64 i = 0;
    while (i < n) {
        if (uchar(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const uchar lead = uchar(text[i]);
        const qint64 length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
        if (i + length <= n && isUtf8(text + i, size_t(length))) {
            ++fit.characters;
            i += length;
            continue;
        }
        if (fit.firstStray < 0)
            fit.firstStray = i;
        ++fit.strayBytes;
        ++i;
    }
    return fit;
}

// The line (1-based) that the byte at offset is on.
qint64 lineAt(const char *text, qint64 offset)
{
    qint64 line = 1;
    for (qint64 i = 0; i < offset; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && text[i + 1] != '\n'))
            ++line;
    }
    return line;
}

// UTF-8, with or without a byte-order mark, else GB18030; at *start the text
// begins. Control characters other than tab and line breaks make no text. A
// file marked as UTF-8, or one that is UTF-8 but for a few bytes (at least
// four whole characters past ASCII for each stray byte: a line pasted from a
// Latin-1 file), is refused at the line of its first stray byte rather than
// read whole as GB18030. Most bytes of GB18030 text past ASCII are no UTF-8:
// of random common Chinese characters, 1 to 20 to a file, at most 7 in
// 10,000 files passed for UTF-8 so (of five), none of eight or more.
bool detectEncoding(const QByteArray &bytes, Encoding *encoding, int *start, ReadError *error)
{
    for (const char c : bytes) {
        if (uchar(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            *error = ReadError::at(ReadError::NotText);
            return false;
        }
    }
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    *start = bom ? 3 : 0;
    const Utf8Fit fit = utf8Fit(bytes.constData(), bytes.size());
    if (fit.strayBytes == 0) {
        *encoding = Encoding::Utf8;
        return true;
    }
    if (bom || (fit.characters > 0 && fit.characters >= 4 * fit.strayBytes)) {
        *error = ReadError::atLine(ReadError::BrokenUtf8, lineAt(bytes.constData() + *start, fit.firstStray - *start));
        return false;
    }
    *encoding = Encoding::Gb18030;
    if (QTextCodec::codecForName("GB18030") && isGb18030(bytes.constData(), bytes.constData() + bytes.size()))
        return true;
    *error = ReadError::at(ReadError::NotText);
    return false;
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

// Splits the bytes into fields and cells. Separators, quotes and line breaks
// are ASCII in both encodings, so fields are cut on bytes and each decoded
// on its own: the text is never held whole, and of a field only what a cell
// keeps.
class FieldReader
{
public:
    FieldReader(std::vector<CellEntry> *cells, Encoding encoding) : m_cells(cells), m_encoding(encoding) {}

    bool read(const char *p, const char *const end)
    {
        bool quoted = false;
        bool fieldStart = true;
        qint64 line = 1;
        qint64 quoteLine = 0;
        while (p < end) {
            const char c = *p++;
            if (c == '\n' || (c == '\r' && !(p < end && *p == '\n')))
                ++line;
            if (quoted) {
                if (c != '"')
                    add(c);
                else if (p < end && *p == '"')
                    add(*p++);
                else
                    quoted = false;
                continue;
            }
            if (c == '"' && fieldStart) {
                quoted = true;
                quoteLine = line;
                fieldStart = false;
            } else if (c == ',') {
                if (!endField())
                    return false;
                ++m_column;
                fieldStart = true;
            } else if (c == '\n' || c == '\r') {
                if (c == '\r' && p < end && *p == '\n')
                    ++p, ++line;
                if (!endField())
                    return false;
                ++m_row;
                m_column = 1;
                fieldStart = true;
            } else {
                // Text after a closing quote, or a quote inside a field, is kept as it is.
                add(c);
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
    void add(char c)
    {
        if (m_field.size() < limits::CellTextBytes)
            m_field += c;
        else
            m_cut = true;
    }

    // The field's text; false when its GB18030 bytes do not come back the same.
    bool decode(QString *text) const
    {
        if (m_encoding == Encoding::Utf8) {
            *text = QString::fromUtf8(m_field);
        } else {
            QTextCodec *gb18030 = QTextCodec::codecForName("GB18030");
            *text = gb18030ToUnicode(gb18030, m_field);
            // The toolkit's decoder need not count what it cannot decode.
            if (!m_cut && gb18030->fromUnicode(*text) != m_field)
                return false;
        }
        if (m_cut && text->endsWith(QChar(0xfffd)))
            text->chop(1); // a character cut in two
        *text = cellText(std::move(*text));
        return true;
    }

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
        QString text;
        if (!decode(&text)) {
            m_error = ReadError::atLine(ReadError::NotText, m_row);
            return false;
        }
        m_cells->push_back(CellEntry {m_row, m_column, Cell(fieldValue(text))});
        m_field.clear();
        m_cut = false;
        return true;
    }

    std::vector<CellEntry> *m_cells;
    Encoding m_encoding;
    QByteArray m_field;
    bool m_cut = false;
    int m_row = 1;
    int m_column = 1;
    ReadBudget m_budget;
    ReadError m_error;
};

} // namespace

std::unique_ptr<Workbook> readCsv(const QByteArray &bytes, const QString &sheetName, ReadError *error)
{
    if (bytes.size() > limits::CsvBytes) {
        setReadError(error, ReadError::reached(ReadError::CsvBytes));
        return nullptr;
    }
    Encoding encoding;
    int start;
    ReadError why;
    if (!detectEncoding(bytes, &encoding, &start, &why)) {
        setReadError(error, why);
        return nullptr;
    }
    std::unique_ptr<Workbook> book(new Workbook);
    book->sheets.resize(1);
    Sheet &sheet = book->sheets.front();
    sheet.name = sheetName;
    sheet.worksheet = true;
    FieldReader reader(&sheet.cells, encoding);
    if (!reader.read(bytes.constData() + start, bytes.constData() + bytes.size())) {
        setReadError(error, reader.error());
        return nullptr;
    }
    sheet.indexCells();
    return book;
}

} // namespace detail
} // namespace QXlsx
