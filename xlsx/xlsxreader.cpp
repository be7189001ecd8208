// Reads the parts of a workbook package: relationships, the workbook part, the
// shared strings and each worksheet's cells.

#include "xlsxworkbook.h"
#include "xlsxxml.h"

#include "core/readbudget.h"
#include "zip/zipentryreader.h"

#include <QDateTime>
#include <QUrl>
#include <QVector>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string_view>

namespace QXlsx {
namespace detail {

namespace {

const char *const RelationshipNamespaces[] = {
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://purl.oclc.org/ooxml/officeDocument/relationships",
};
constexpr int RelationshipNamespaceCount = 2;


using Token = XmlReader::Token;

std::string_view trimmed(std::string_view s)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

bool parseUInt(std::string_view text, int max, int *out)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 10)
        return false;
    qint64 v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > max)
        return false;
    *out = int(v);
    return true;
}

bool parseBool(std::string_view text, bool *out)
{
    text = trimmed(text);
    if (text == "1" || text == "true")
        *out = true;
    else if (text == "0" || text == "false")
        *out = false;
    else
        return false;
    return true;
}

bool parseDouble(std::string_view text, double *out)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    double v = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, v);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// "B12" → row 12, column 2.
bool parseReference(std::string_view ref, int *row, int *column)
{
    const size_t n = ref.size();
    size_t i = 0;
    int c = 0;
    while (i < n) {
        const char u = ref[i];
        int letter;
        if (u >= 'A' && u <= 'Z')
            letter = u - 'A' + 1;
        else if (u >= 'a' && u <= 'z')
            letter = u - 'a' + 1;
        else
            break;
        if (++i > 3)
            return false;
        c = c * 26 + letter;
    }
    if (i == 0 || i == n || c > limits::Columns)
        return false;
    int r = 0;
    for (; i < n; ++i) {
        const char u = ref[i];
        if (u < '0' || u > '9')
            return false;
        r = r * 10 + (u - '0');
        if (r > limits::Rows)
            return false;
    }
    if (r < 1)
        return false;
    *row = r;
    *column = c;
    return true;
}

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// At most the text a cell keeps; a character cut in two goes.
QString cellText(QString text, bool cut)
{
    if (cut && text.endsWith(QChar(0xfffd)))
        text.chop(1);
    if (text.size() > limits::CellText) {
        text.truncate(limits::CellText);
        if (text.at(text.size() - 1).isHighSurrogate())
            text.chop(1);
    }
    return text;
}

// Appends the text just read while out holds less than a cell keeps.
void appendCapped(const XmlReader &x, std::string *out)
{
    if (out->size() < size_t(limits::CellTextBytes))
        x.appendText(out);
}

QString unescape(const std::string &utf8);

// Strings in a workbook carry characters XML cannot hold as _xHHHH_.
QString unescapeText(const std::string &utf8)
{
    return cellText(unescape(utf8), utf8.size() >= size_t(limits::CellTextBytes));
}

QString unescape(const std::string &utf8)
{
    QString s = QString::fromUtf8(utf8.data(), int(utf8.size()));
    if (utf8.find("_x") == std::string::npos)
        return s;
    QString out;
    out.reserve(s.size());
    int i = 0;
    while (i < s.size()) {
        if (i + 6 < s.size() && s.at(i) == QLatin1Char('_') && s.at(i + 1) == QLatin1Char('x')
            && s.at(i + 6) == QLatin1Char('_')) {
            int code = 0;
            int k = 2;
            for (; k < 6; ++k) {
                const int h = hexValue(s.at(i + k));
                if (h < 0)
                    break;
                code = code * 16 + h;
            }
            if (k == 6) {
                out.append(QChar(ushort(code)));
                i += 7;
                continue;
            }
        }
        out.append(s.at(i++));
    }
    return out;
}

// Collects the text of an <si> or <is> element at depth base: its <t>, or the
// <t> of its <r> runs, leaving out phonetic runs.
struct TextCollector
{
    int base = 0;
    bool inRun = false;
    bool capture = false;
    std::string text;

    void reset(int depth)
    {
        base = depth;
        inRun = capture = false;
        text.clear();
    }
    void start(const XmlReader &x)
    {
        if (x.depth() == base + 1) {
            inRun = x.nameIs("r");
            capture = x.nameIs("t");
        } else if (x.depth() == base + 2 && inRun) {
            capture = x.nameIs("t");
        }
    }
    void end(int depth)
    {
        capture = false;
        if (depth == base + 1)
            inRun = false;
    }
};

struct Relationship
{
    QString id;
    std::string type;
    QString target;
    bool external = false;
};

using Relationships = std::vector<Relationship>;

bool hasType(const Relationship &rel, const char *kind)
{
    const std::string_view type = rel.type;
    for (const char *base : RelationshipNamespaces) {
        const std::string_view prefix = base;
        if (type.size() > prefix.size() && type.substr(0, prefix.size()) == prefix && type[prefix.size()] == '/'
            && type.substr(prefix.size() + 1) == kind)
            return true;
    }
    return false;
}

bool parseRelationships(XmlReader &x, Relationships *rels)
{
    std::string mode;
    for (;;) {
        const Token t = x.nextStart();
        if (t != Token::StartElement)
            return t == Token::EndDocument;
        if (x.depth() == 1 && !x.nameIs("Relationships"))
            return false;
        if (x.depth() == 2 && x.nameIs("Relationship")) {
            Relationship rel;
            x.attribute("Id", &rel.id);
            x.attribute("Type", &rel.type);
            x.attribute("Target", &rel.target);
            rel.external = x.attribute("TargetMode", &mode) && mode == "External";
            rels->push_back(std::move(rel));
        }
    }
}

struct SheetRef
{
    QString name;
    QString relId;
    bool hidden = false;
};

struct WorkbookInfo
{
    bool date1904 = false;
    bool hasView = false;
    int activeTab = 0;
    int firstSheet = 0;
    std::vector<SheetRef> sheets;
};

bool parseWorkbook(XmlReader &x, WorkbookInfo *info)
{
    enum Section { Other, BookViews, Sheets } section = Other;
    std::string value;
    for (;;) {
        const Token t = x.nextStart();
        if (t != Token::StartElement)
            return t == Token::EndDocument;
        switch (x.depth()) {
        case 1:
            if (!x.nameIs("workbook"))
                return false;
            break;
        case 2:
            section = x.nameIs("bookViews") ? BookViews : x.nameIs("sheets") ? Sheets : Other;
            if (x.nameIs("workbookPr") && x.attribute("date1904", &value) && !parseBool(value, &info->date1904))
                return false;
            break;
        case 3:
            if (section == BookViews && x.nameIs("workbookView") && !info->hasView) {
                info->hasView = true;
                if ((x.attribute("activeTab", &value) && !parseUInt(value, limits::Sheets, &info->activeTab))
                    || (x.attribute("firstSheet", &value) && !parseUInt(value, limits::Sheets, &info->firstSheet)))
                    return false;
            } else if (section == Sheets && x.nameIs("sheet")) {
                if (int(info->sheets.size()) >= limits::Sheets)
                    return false;
                SheetRef ref;
                x.attribute("name", &ref.name);
                ref.hidden = x.attribute("state", &value) && (value == "hidden" || value == "veryHidden");
                if (!x.attribute(RelationshipNamespaces, RelationshipNamespaceCount, "id", &value) || value.empty())
                    return false;
                ref.relId = QString::fromStdString(value);
                info->sheets.push_back(std::move(ref));
            }
            break;
        default:
            break;
        }
    }
}

bool parseSharedStrings(XmlReader &x, QVector<QString> *strings)
{
    bool inItem = false;
    TextCollector item;
    for (;;) {
        const Token t = x.next();
        switch (t) {
        case Token::EndDocument:
            return true;
        case Token::Invalid:
            return false;
        case Token::StartElement:
            if (x.depth() == 1) {
                if (!x.nameIs("sst"))
                    return false;
            } else if (x.depth() == 2) {
                inItem = x.nameIs("si");
                if (inItem)
                    item.reset(2);
            } else if (inItem) {
                item.start(x);
            }
            break;
        case Token::EndElement:
            if (inItem && x.depth() == 2) {
                if (strings->size() >= limits::SharedStrings)
                    return false;
                strings->append(unescapeText(item.text));
                inItem = false;
            } else if (inItem) {
                item.end(x.depth());
            }
            break;
        case Token::Text:
            if (inItem && item.capture)
                appendCapped(x, &item.text);
            break;
        }
    }
}

enum class CellType { Number, Shared, String, Inline, Bool, Error, Date, Unknown };

bool parseCellType(std::string_view t, CellType *type)
{
    if (t == "n")
        *type = CellType::Number;
    else if (t == "s")
        *type = CellType::Shared;
    else if (t == "str")
        *type = CellType::String;
    else if (t == "inlineStr")
        *type = CellType::Inline;
    else if (t == "b")
        *type = CellType::Bool;
    else if (t == "e")
        *type = CellType::Error;
    else if (t == "d")
        *type = CellType::Date;
    else
        return false;
    return true;
}

// A t="d" value: an ISO 8601 date-time or date (a QDateTime, midnight for a
// date), a time of day (a QTime), or a serial number as in other cells.
QVariant dateValue(std::string_view text)
{
    text = trimmed(text);
    const QString iso = QString::fromLatin1(text.data(), int(text.size()));
    QDateTime when = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (when.isValid())
        return when;
    const QDate day = QDate::fromString(iso, Qt::ISODate);
    if (day.isValid())
        return QDateTime(day, QTime(0, 0));
    const QTime time = QTime::fromString(iso.startsWith(QLatin1Char('T')) ? iso.mid(1) : iso, Qt::ISODateWithMs);
    if (time.isValid())
        return time;
    double serial;
    if (parseDouble(text, &serial))
        return serial;
    return QVariant();
}

// Notes what the sheetView elements of the first workbook view say, fed the
// element starts at depths 2 and 3 of a sheet part.
class ViewNotes
{
public:
    explicit ViewNotes(Sheet *sheet) : m_sheet(sheet) {}

    // False once the sheetViews element is behind.
    bool start(const XmlReader &x)
    {
        if (x.depth() == 2) {
            if (m_inViews || m_done || x.nameIs("sheetData")) {
                m_inViews = false;
                m_done = true;
            } else {
                m_inViews = x.nameIs("sheetViews");
            }
        } else if (m_inViews && x.depth() == 3 && x.nameIs("sheetView")) {
            int view = 0;
            bool selected = false;
            if (x.attribute("workbookViewId", &m_value) && !parseUInt(m_value, INT_MAX, &view))
                view = -1;
            if (view == 0) {
                m_sheet->hasView = true;
                if (x.attribute("tabSelected", &m_value) && parseBool(m_value, &selected) && selected)
                    m_sheet->tabSelected = true;
            }
        }
        return !m_done;
    }

private:
    Sheet *m_sheet;
    bool m_inViews = false;
    bool m_done = false;
    std::string m_value;
};

// Reads the views of a sheet part up to the end of its sheetViews element.
bool readViews(XmlReader &x, Sheet *sheet)
{
    ViewNotes notes(sheet);
    for (;;) {
        const Token t = x.nextStart();
        if (t != Token::StartElement)
            return t == Token::EndDocument;
        if (x.depth() > 1 && x.depth() < 4 && !notes.start(x))
            return true;
    }
}

class SheetParser
{
public:
    SheetParser(Sheet *sheet, const QVector<QString> &strings, ReadBudget &budget)
        : m_sheet(sheet), m_strings(strings), m_budget(budget), m_views(sheet)
    {
    }

    bool parse(XmlReader &x)
    {
        for (;;) {
            switch (x.next()) {
            case Token::EndDocument:
                return finish();
            case Token::Invalid:
                return false;
            case Token::StartElement:
                if (!startElement(x))
                    return false;
                break;
            case Token::EndElement:
                if (!endElement(x.depth()))
                    return false;
                break;
            case Token::Text:
                if (m_captureValue)
                    appendCapped(x, &m_value);
                else if (m_inInline && m_inline.capture)
                    appendCapped(x, &m_inline.text);
                break;
            }
        }
    }

private:
    bool startElement(const XmlReader &x)
    {
        switch (x.depth()) {
        case 1:
            return x.nameIs("worksheet");
        case 2:
            m_inData = x.nameIs("sheetData");
            m_views.start(x);
            return true;
        case 3:
            m_views.start(x);
            m_inRow = m_inData && x.nameIs("row");
            if (m_inRow) {
                if (!x.attribute("r", &m_attribute)) {
                    if (++m_row > limits::Rows)
                        return false;
                } else if (!parseUInt(m_attribute, limits::Rows, &m_row) || m_row < 1) {
                    return false;
                }
                m_column = 0;
            }
            return true;
        case 4:
            m_inCell = m_inRow && x.nameIs("c");
            return m_inCell ? startCell(x) : true;
        case 5:
            if (m_inCell) {
                if (x.nameIs("v")) {
                    m_hasValue = m_captureValue = true;
                    m_value.clear();
                } else if (x.nameIs("is")) {
                    m_hasInline = m_inInline = true;
                    m_inline.reset(5);
                }
            }
            return true;
        default:
            if (m_inInline)
                m_inline.start(x);
            return true;
        }
    }

    bool startCell(const XmlReader &x)
    {
        if (!x.attribute("r", &m_attribute)) {
            if (m_column >= limits::Columns)
                return false;
            m_cellRow = m_row;
            m_cellColumn = m_column + 1;
        } else if (!parseReference(m_attribute, &m_cellRow, &m_cellColumn)) {
            return false;
        }
        m_column = m_cellColumn;
        m_hasValue = m_hasInline = false;
        m_type = CellType::Number;
        if (x.attribute("t", &m_attribute) && !parseCellType(m_attribute, &m_type))
            m_type = CellType::Unknown;
        return true;
    }

    bool endElement(int depth)
    {
        if (depth == 5) {
            m_captureValue = false;
            m_inInline = false;
        } else if (depth > 5 && m_inInline) {
            m_inline.end(depth);
        } else if (depth == 4 && m_inCell) {
            m_inCell = false;
            return endCell();
        } else if (depth == 3) {
            m_inRow = false;
        } else if (depth == 2) {
            m_inData = false;
        }
        return true;
    }

    bool endCell()
    {
        QVariant value = cellValue();
        if (!m_budget.charge(ReadError::Cells))
            return false;
        auto &cells = m_sheet->cells;
        if (!cells.empty()) {
            const CellEntry &last = cells.back();
            if (m_cellRow < last.row || (m_cellRow == last.row && m_cellColumn <= last.column))
                m_sorted = false;
        }
        cells.push_back(CellEntry {m_cellRow, m_cellColumn, Cell(std::move(value))});
        return true;
    }

    // The value as its type reads it; a value that does not read leaves the
    // cell without one, present all the same.
    QVariant cellValue() const
    {
        const std::string_view text = m_value;
        switch (m_type) {
        case CellType::Number: {
            double d;
            if (m_hasValue && parseDouble(text, &d))
                return d;
            return QVariant();
        }
        case CellType::Shared: {
            int index;
            if (m_hasValue && parseUInt(text, INT_MAX, &index) && index < m_strings.size())
                return m_strings.at(index);
            return QVariant();
        }
        case CellType::String:
            return m_hasValue ? QVariant(unescapeText(m_value)) : QVariant();
        case CellType::Inline:
            if (m_hasInline)
                return unescapeText(m_inline.text);
            return m_hasValue ? QVariant(unescapeText(m_value)) : QVariant();
        case CellType::Bool: {
            // 1 and 0 as written; any other number counts as true, as spreadsheets read it.
            bool b;
            double d;
            if (m_hasValue && parseBool(text, &b))
                return b;
            if (m_hasValue && parseDouble(text, &d))
                return d != 0;
            return QVariant();
        }
        case CellType::Error:
            if (m_hasValue && !trimmed(text).empty())
                return QString::fromUtf8(m_value.data(), int(m_value.size()));
            return QVariant();
        case CellType::Date:
            return m_hasValue ? dateValue(text) : QVariant();
        case CellType::Unknown:
            return QVariant();
        }
        return QVariant();
    }

    bool finish()
    {
        auto &cells = m_sheet->cells;
        if (!m_sorted) {
            std::stable_sort(cells.begin(), cells.end(), [](const CellEntry &a, const CellEntry &b) {
                return a.row < b.row || (a.row == b.row && a.column < b.column);
            });
            // A position given twice keeps the cell written last.
            size_t out = 0;
            for (size_t i = 0; i < cells.size(); ++i) {
                if (i + 1 < cells.size() && cells[i + 1].row == cells[i].row && cells[i + 1].column == cells[i].column)
                    continue;
                if (out != i)
                    cells[out] = std::move(cells[i]);
                ++out;
            }
            cells.erase(cells.begin() + ptrdiff_t(out), cells.end());
        }
        m_sheet->indexCells();
        return true;
    }

    Sheet *m_sheet;
    const QVector<QString> &m_strings;
    ReadBudget &m_budget;

    bool m_inData = false;
    bool m_inRow = false;
    bool m_inCell = false;
    bool m_inInline = false;
    bool m_captureValue = false;
    bool m_sorted = true;
    int m_row = 0; // of the current row element
    int m_column = 0; // of the previous cell in it
    int m_cellRow = 0;
    int m_cellColumn = 0;
    CellType m_type = CellType::Number;
    bool m_hasValue = false;
    bool m_hasInline = false;
    std::string m_attribute;
    std::string m_value;
    TextCollector m_inline;
    ViewNotes m_views;
};

// The zip entry name of a relationship target seen from part source ("" for the package).
QString resolveTarget(const QString &source, const QString &target)
{
    QString path;
    if (target.startsWith(QLatin1Char('/')))
        path = target.mid(1);
    else
        path = source.left(source.lastIndexOf(QLatin1Char('/')) + 1) + target;

    QStringList parts;
    for (const QString &segment : path.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (parts.isEmpty())
                return QString();
            parts.removeLast();
            continue;
        }
        parts.append(segment);
    }
    return parts.join(QLatin1Char('/'));
}

int findPart(const Package &package, const QString &name)
{
    if (name.isEmpty())
        return -1;
    const int index = package.find(name);
    if (index >= 0 || !name.contains(QLatin1Char('%')))
        return index;
    return package.find(QUrl::fromPercentEncoding(name.toUtf8()));
}

QString relationshipsPart(const QString &part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QLatin1String("_rels/") + part.mid(slash + 1) + QLatin1String(".rels");
}

// Why an entry did not read; partCap when the cap it ran into was the part's
// own rather than what was left of all the inflated bytes.
ReadError entryError(const EntryReader &entry, bool partCap, const QString &part)
{
    switch (entry.failure()) {
    case EntryReader::PastCap:
        return ReadError::reached(partCap ? ReadError::PartBytes : ReadError::InflatedBytes, part);
    case EntryReader::PastRatio:
        return ReadError::reached(ReadError::InflateRatio, part);
    case EntryReader::Encrypted:
        return ReadError::at(ReadError::Encrypted, part, entry.failureOffset());
    case EntryReader::NoFailure:
    case EntryReader::Damaged:
    case EntryReader::Unsupported:
        break;
    }
    return ReadError::at(ReadError::DamagedZip, part, entry.failureOffset());
}

// Runs parsers over the entries of a package, charging what they inflate to
// one budget, and keeps the first reason a part did not read.
class PartReader
{
public:
    PartReader(const Package &package, ReadError *error) : m_package(package), m_error(error) {}

    ReadBudget &budget() { return m_budget; }

    template<typename Parse>
    bool read(int index, qint64 cap, Parse parse)
    {
        const qint64 left = ReadError::limitValue(ReadError::InflatedBytes) - m_inflated;
        EntryReader entry(m_package.bytes(), m_package.entry(index), std::min(cap, left));
        XmlReader reader(&entry);
        const bool ok = parse(reader);
        m_inflated += entry.inflated();
        if (ok && !entry.failed() && m_budget.charge(ReadError::InflatedBytes, entry.inflated()))
            return true;
        const QString part = m_package.name(index);
        if (m_budget.exceeded())
            fail(m_budget.exceeded(), part);
        else if (entry.failed())
            fail(entryError(entry, cap <= left, part));
        else
            fail(ReadError::at(ReadError::DamagedXml, part));
        return false;
    }

    // A part the package must have is not there.
    std::nullptr_t missing(const QString &part)
    {
        fail(ReadError::at(ReadError::NotWorkbook, part));
        return nullptr;
    }

private:
    void fail(ReadError e, const QString &part = QString())
    {
        if (e.part.isEmpty())
            e.part = part;
        setReadError(m_error, e);
    }

    const Package &m_package;
    ReadError *m_error;
    ReadBudget m_budget;
    qint64 m_inflated = 0;
};

const Relationship *findRelationship(const Relationships &rels, const char *kind)
{
    for (const Relationship &rel : rels) {
        if (!rel.external && hasType(rel, kind))
            return &rel;
    }
    return nullptr;
}

} // namespace

Cell *Sheet::find(int row, int column)
{
    if (rows.empty())
        return nullptr;
    size_t i = rowHint;
    if (i >= rows.size() || rows[i].row != row) {
        if (i + 1 < rows.size() && rows[i + 1].row == row) {
            ++i;
        } else {
            const auto it = std::lower_bound(rows.begin(), rows.end(), row,
                                             [](const RowStart &r, int wanted) { return r.row < wanted; });
            if (it == rows.end() || it->row != row)
                return nullptr;
            i = size_t(it - rows.begin());
        }
        rowHint = i;
    }
    const auto first = cells.begin() + rows[i].begin;
    const auto last = i + 1 < rows.size() ? cells.begin() + rows[i + 1].begin : cells.end();
    const auto it = std::lower_bound(first, last, column,
                                     [](const CellEntry &c, int wanted) { return c.column < wanted; });
    if (it == last || it->column != column)
        return nullptr;
    return &it->cell;
}

void Sheet::indexCells()
{
    cells.shrink_to_fit();
    rows.clear();
    int minColumn = limits::Columns + 1;
    int maxColumn = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (rows.empty() || rows.back().row != cells[i].row)
            rows.push_back(RowStart {cells[i].row, int(i)});
        minColumn = std::min(minColumn, cells[i].column);
        maxColumn = std::max(maxColumn, cells[i].column);
    }
    rows.shrink_to_fit();
    range = cells.empty() ? CellRange() : CellRange(cells.front().row, minColumn, cells.back().row, maxColumn);
}

std::unique_ptr<Workbook> readWorkbook(const QByteArray &bytes, ReadError *error)
{
    std::unique_ptr<Workbook> book(new Workbook);
    Package &package = book->package;
    if (!package.open(bytes, error))
        return nullptr;
    PartReader parts(package, error);

    Relationships packageRels;
    const QString packageRelsName = QStringLiteral("_rels/.rels");
    const int packageRelsEntry = package.find(packageRelsName);
    if (packageRelsEntry < 0)
        return parts.missing(packageRelsName);
    if (!parts.read(packageRelsEntry, limits::OtherPartBytes, [&](XmlReader &x) { return parseRelationships(x, &packageRels); }))
        return nullptr;
    const Relationship *office = findRelationship(packageRels, "officeDocument");
    if (!office)
        return parts.missing(packageRelsName);
    const QString workbookName = resolveTarget(QString(), office->target);
    book->workbookEntry = findPart(package, workbookName);
    if (book->workbookEntry < 0)
        return parts.missing(workbookName);

    WorkbookInfo info;
    if (!parts.read(book->workbookEntry, limits::OtherPartBytes, [&](XmlReader &x) { return parseWorkbook(x, &info); }))
        return nullptr;
    if (info.sheets.empty())
        return parts.missing(workbookName);

    Relationships rels;
    const QString relsName = relationshipsPart(workbookName);
    const int relsEntry = findPart(package, relsName);
    if (relsEntry >= 0 && !parts.read(relsEntry, limits::OtherPartBytes, [&](XmlReader &x) { return parseRelationships(x, &rels); }))
        return nullptr;

    QVector<QString> strings;
    if (const Relationship *shared = findRelationship(rels, "sharedStrings")) {
        const QString name = resolveTarget(workbookName, shared->target);
        const int entry = findPart(package, name);
        if (entry < 0)
            return parts.missing(name);
        if (!parts.read(entry, limits::SheetPartBytes, [&](XmlReader &x) { return parseSharedStrings(x, &strings); }))
            return nullptr;
    }

    book->sheets.resize(info.sheets.size());
    for (size_t i = 0; i < info.sheets.size(); ++i) {
        Sheet &sheet = book->sheets[i];
        sheet.name = info.sheets[i].name;
        sheet.hidden = info.sheets[i].hidden;
        const auto rel = std::find_if(rels.begin(), rels.end(),
                                      [&](const Relationship &r) { return r.id == info.sheets[i].relId; });
        if (rel == rels.end())
            return parts.missing(relsName);
        const QString name = resolveTarget(workbookName, rel->target);
        const int entry = rel->external ? -1 : findPart(package, name);
        if (!hasType(*rel, "worksheet")) {
            // A chart sheet, dialog sheet or macro sheet: no cells to read, only
            // its views; one whose part does not read is left alone.
            ReadError ignored;
            PartReader views(package, &ignored);
            if (entry >= 0 && views.read(entry, limits::OtherPartBytes, [&](XmlReader &x) { return readViews(x, &sheet); }))
                sheet.entry = entry;
            else
                sheet.hasView = sheet.tabSelected = false;
            continue;
        }
        if (entry < 0)
            return parts.missing(name);
        sheet.worksheet = true;
        sheet.entry = entry;
        SheetParser parser(&sheet, strings, parts.budget());
        if (!parts.read(entry, limits::SheetPartBytes, [&](XmlReader &x) { return parser.parse(x); }))
            return nullptr;
    }

    book->date1904 = info.date1904;
    book->activeTab = info.activeTab;
    book->firstSheet = info.firstSheet;
    return book;
}

bool inflatePart(Workbook &book, int entry, qint64 cap, QByteArray *xml)
{
    EntryReader reader(book.package.bytes(), book.package.entry(entry), cap);
    QByteArray chunk;
    xml->clear();
    while (reader.next(&chunk))
        xml->append(chunk);
    return !reader.failed();
}

bool readBookView(const QByteArray &xml, int *activeTab, int *firstSheet)
{
    XmlReader reader(xml);
    WorkbookInfo info;
    if (!parseWorkbook(reader, &info))
        return false;
    *activeTab = info.activeTab;
    *firstSheet = info.firstSheet;
    return true;
}

bool readTabSelected(const QByteArray &xml, bool *hasView, bool *selected)
{
    XmlReader reader(xml);
    Sheet sheet;
    if (!readViews(reader, &sheet))
        return false;
    *hasView = sheet.hasView;
    *selected = sheet.tabSelected;
    return true;
}

} // namespace detail
} // namespace QXlsx
