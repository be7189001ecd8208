#include "core/readbudget.h"

#include "core/limits.h"

namespace QXlsx {

qint64 ReadError::limitValue(Limit limit)
{
    switch (limit) {
    case NoLimit:
        break;
    case FileBytes:
        return limits::FileBytes;
    case CsvBytes:
        return limits::CsvBytes;
    case PartBytes:
        return limits::SheetPartBytes;
    case OtherPartBytes:
        return limits::OtherPartBytes;
    case InflatedBytes:
        return limits::InflatedBytes;
    case InflateRatio:
        return limits::InflateRatio;
    case ZipEntries:
        return limits::ZipEntries;
    case Sheets:
        return limits::Sheets;
    case Cells:
        return limits::Cells;
    case SharedStrings:
        return limits::SharedStrings;
    case Rows:
        return limits::Rows;
    case Columns:
        return limits::Columns;
    case XmlDepth:
        return limits::XmlDepth;
    }
    return 0;
}

namespace detail {

bool ReadBudget::charge(ReadError::Limit limit, qint64 amount)
{
    if (m_hit != ReadError::NoLimit)
        return false;
    qint64 *used = nullptr;
    switch (limit) {
    case ReadError::Cells:
        used = &m_cells;
        break;
    case ReadError::Sheets:
        used = &m_sheets;
        break;
    case ReadError::SharedStrings:
        used = &m_sharedStrings;
        break;
    case ReadError::InflatedBytes:
        used = &m_inflated;
        break;
    default:
        Q_ASSERT_X(false, "ReadBudget::charge", "not a limit of the whole read");
        return false;
    }
    *used += amount;
    if (*used > ReadError::limitValue(limit)) {
        m_hit = limit;
        return false;
    }
    return true;
}

ReadError ReadBudget::exceeded() const
{
    return m_hit == ReadError::NoLimit ? ReadError() : ReadError::reached(m_hit);
}

} // namespace detail
} // namespace QXlsx
