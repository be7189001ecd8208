#pragma once

// The workbook part: its sheets, date system and first workbook view.

#include "core/readbudget.h"
#include "xml/xmlreader.h"

#include <QString>

#include <vector>

namespace QXlsx {
namespace detail {

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

// Each sheet is charged to budget.
bool parseWorkbook(XmlReader &x, WorkbookInfo *info, ReadBudget &budget);

} // namespace detail
} // namespace QXlsx
