#pragma once

// What one read of a workbook may take, charged by every reader as it goes.

#include "readerror.h"

#include <QtGlobal>

namespace QXlsx {
namespace detail {

class ReadBudget
{
public:
    // Takes amount from limit's allowance (Cells, Sheets, SharedStrings,
    // InflatedBytes); false once the allowance is overdrawn, and from then on.
    bool charge(ReadError::Limit limit, qint64 amount = 1);
    // The limit that was overdrawn first, as an error; null while none was.
    ReadError exceeded() const;

private:
    qint64 m_cells = 0;
    qint64 m_sheets = 0;
    qint64 m_sharedStrings = 0;
    qint64 m_inflated = 0;
    ReadError::Limit m_hit = ReadError::NoLimit;
};

} // namespace detail
} // namespace QXlsx
