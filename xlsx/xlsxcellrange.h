#pragma once

namespace QXlsx {

// A rectangle of cells, 1-based. A default-constructed range is invalid.
class CellRange
{
public:
    CellRange() = default;
    CellRange(int firstRow, int firstColumn, int lastRow, int lastColumn)
        : m_firstRow(firstRow), m_firstColumn(firstColumn), m_lastRow(lastRow), m_lastColumn(lastColumn) {}

    int firstRow() const { return m_firstRow; }
    int firstColumn() const { return m_firstColumn; }
    int lastRow() const { return m_lastRow; }
    int lastColumn() const { return m_lastColumn; }
    int rowCount() const { return m_lastRow - m_firstRow + 1; }
    int columnCount() const { return m_lastColumn - m_firstColumn + 1; }
    bool isValid() const { return m_firstRow >= 1 && m_firstColumn >= 1 && m_lastRow >= m_firstRow && m_lastColumn >= m_firstColumn; }

private:
    int m_firstRow = -1;
    int m_firstColumn = -1;
    int m_lastRow = -2;
    int m_lastColumn = -2;
};

} // namespace QXlsx
