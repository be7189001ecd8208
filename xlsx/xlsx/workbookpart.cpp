#include "xlsx/workbookpart.h"

#include "core/limits.h"
#include "xlsx/bookview.h"
#include "xlsx/relationships.h"
#include "xlsx/values.h"

namespace QXlsx {
namespace detail {

using Token = XmlReader::Token;

bool parseWorkbook(XmlReader &x, WorkbookInfo *info, ReadBudget &budget)
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
                if (!budget.charge(ReadError::Sheets))
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

bool readBookView(const QByteArray &xml, int *activeTab, int *firstSheet)
{
    XmlReader reader(xml);
    WorkbookInfo info;
    ReadBudget budget;
    if (!parseWorkbook(reader, &info, budget))
        return false;
    *activeTab = info.activeTab;
    *firstSheet = info.firstSheet;
    return true;
}

} // namespace detail
} // namespace QXlsx
