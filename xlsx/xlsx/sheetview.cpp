// Marks a sheet's tab selected or not by editing the sheet part's text in
// place: only the sheetView start tags of the first workbook view change, so
// every other byte of the part stays as it was.

#include "xlsx/sheetview.h"

#include "xml/tageditor.h"

namespace QXlsx {
namespace detail {

bool markTabSelected(const QByteArray &xml, bool selected, QByteArray *out)
{
    const Units u(xml);
    if (!u.editable())
        return false;

    TagScanner scanner(u);
    Tag tag;
    int depth = 0;
    bool inViews = false;
    std::vector<Edit> edits;
    // The views come before the sheet data: the scan stops at the end of sheetViews.
    while (scanner.next(&tag)) {
        if (tag.closing) {
            if (--depth < 0)
                return false;
            if (depth == 1 && inViews)
                break;
            continue;
        }
        if (depth == 1) {
            if (inViews || localNameIs(u, tag.nameBegin, tag.nameEnd, "sheetData"))
                break;
            inViews = localNameIs(u, tag.nameBegin, tag.nameEnd, "sheetViews");
        } else if (depth == 2 && inViews && localNameIs(u, tag.nameBegin, tag.nameEnd, "sheetView")) {
            int view = 0;
            const TagAttribute *id = findAttribute(u, tag, "workbookViewId");
            if (id && !parseValue(u, *id, &view))
                view = -1;
            const TagAttribute *tab = findAttribute(u, tag, "tabSelected");
            if (view != 0 || (tab && (valueIs(u, *tab, "1") || valueIs(u, *tab, "true")) == selected) || (!tab && !selected)) {
                // another workbook view's, or already as wanted
            } else if (tab) {
                edits.push_back({tab->valueBegin, tab->valueEnd, u.encode(selected ? "1" : "0")});
            } else {
                edits.push_back({tag.nameEnd, tag.nameEnd, u.encode(" tabSelected=\"1\"")});
            }
        }
        if (!tag.empty)
            ++depth;
    }
    *out = applyEdits(u, std::move(edits));
    return true;
}

} // namespace detail
} // namespace QXlsx
