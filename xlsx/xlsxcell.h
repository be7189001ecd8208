#pragma once

#include <QVariant>

namespace QXlsx {

// One cell present in a worksheet. Its value is a double, QString, bool,
// QDateTime or an invalid variant (a cell element that carries no value).
class Cell
{
public:
    explicit Cell(QVariant value = QVariant()) : m_value(std::move(value)) {}
    QVariant value() const { return m_value; }

private:
    QVariant m_value;
};

} // namespace QXlsx
