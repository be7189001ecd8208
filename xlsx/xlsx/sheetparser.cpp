#include "xlsx/sheetparser.h"

#include "core/dateserial.h"
#include "core/limits.h"
#include "xlsx/sheetview.h"
#include "xlsx/values.h"

#include <QDateTime>

#include <algorithm>
#include <climits>

namespace QXlsx {
namespace detail {

namespace {

using Token = XmlReader::Token;

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

// A t="d" value, an ISO 8601 date, date-time or time of day, as the serial
// number a spreadsheet shows for it in the workbook's date system: the time
// of day is the fraction, a time zone is left out (the time stays as
// written). A serial number reads as in other cells.
QVariant dateValue(std::string_view text, bool date1904)
{
    text = trimmed(text);
    const QString iso = QString::fromLatin1(text.data(), int(text.size()));
    QDate day = QDate::fromString(iso, Qt::ISODate);
    QTime time(0, 0);
    const QDateTime when = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (when.isValid()) {
        day = when.date();
        time = when.time();
    } else if (!day.isValid()) {
        time = QTime::fromString(iso.startsWith(QLatin1Char('T')) ? iso.mid(1) : iso, Qt::ISODateWithMs);
        double serial;
        if (time.isValid())
            return time.msecsSinceStartOfDay() / 86400000.0;
        return parseDouble(text, &serial) ? QVariant(serial) : QVariant();
    }
    double serial;
    if (!dateSerial(day.year(), day.month(), day.day(), date1904, &serial))
        return QVariant();
    return serial + time.msecsSinceStartOfDay() / 86400000.0;
}

// Notes what the sheetView elements of the first workbook view say, fed the
// element starts at depths 2 and 3 of a sheet part.
class ViewNotes
{
public:
    explicit ViewNotes(SheetPart *part) : m_part(part) {}

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
                m_part->hasView = true;
                if (x.attribute("tabSelected", &m_value) && parseBool(m_value, &selected) && selected)
                    m_part->tabSelected = true;
            }
        }
        return !m_done;
    }

private:
    SheetPart *m_part;
    bool m_inViews = false;
    bool m_done = false;
    std::string m_value;
};

} // namespace

bool readViews(XmlReader &x, SheetPart *part)
{
    ViewNotes notes(part);
    for (;;) {
        const Token t = x.nextStart();
        if (t != Token::StartElement)
            return t == Token::EndDocument;
        if (x.depth() > 1 && x.depth() < 4 && !notes.start(x))
            return true;
    }
}

namespace {

class SheetParser
{
public:
    SheetParser(Sheet *sheet, SheetPart *part, const QVector<QString> &strings, ReadBudget &budget, bool date1904)
        : m_sheet(sheet), m_strings(strings), m_budget(budget), m_date1904(date1904), m_views(part)
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
            return m_hasValue ? dateValue(text, m_date1904) : QVariant();
        case CellType::Unknown:
            return QVariant();
        }
        return QVariant();
    }

    bool finish()
    {
        if (!m_sorted)
            m_sheet->sortCells();
        m_sheet->indexCells();
        return true;
    }

    Sheet *m_sheet;
    const QVector<QString> &m_strings;
    ReadBudget &m_budget;
    const bool m_date1904;

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

} // namespace

bool parseSheet(XmlReader &x, Sheet *sheet, SheetPart *part, const QVector<QString> &strings, ReadBudget &budget,
                bool date1904)
{
    return SheetParser(sheet, part, strings, budget, date1904).parse(x);
}

bool readTabSelected(const QByteArray &xml, bool *hasView, bool *selected)
{
    XmlReader reader(xml);
    SheetPart part;
    if (!readViews(reader, &part))
        return false;
    *hasView = part.hasView;
    *selected = part.tabSelected;
    return true;
}

} // namespace detail
} // namespace QXlsx
