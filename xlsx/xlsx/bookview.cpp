// Marks a sheet as the active tab by editing the workbook part's text in place:
// only the workbookView start tag changes (or a bookViews element is added), so
// every other byte of the part stays as it was.

#include "xlsx/bookview.h"

#include "xml/tageditor.h"

namespace QXlsx {
namespace detail {

bool markActiveTab(const QByteArray &xml, int tab, int firstSheet, QByteArray *out)
{
    const Units u(xml);
    if (!u.editable() || tab < 0 || firstSheet < 0 || firstSheet > tab)
        return false;
    const QByteArray number = QByteArray::number(tab);
    const QByteArray first = QByteArray::number(firstSheet);

    TagScanner scanner(u);
    Tag tag;
    int depth = 0;
    bool inBookViews = false;
    Tag bookViews;
    bool haveBookViews = false;
    Tag view;
    bool haveView = false;
    Tag sheets;
    bool haveSheets = false;
    while (!haveView && !haveSheets && scanner.next(&tag)) {
        if (tag.closing) {
            if (--depth == 1)
                inBookViews = false;
            if (depth < 0)
                return false;
            continue;
        }
        if (depth == 0 && !localNameIs(u, tag.nameBegin, tag.nameEnd, "workbook"))
            return false;
        if (depth == 1 && localNameIs(u, tag.nameBegin, tag.nameEnd, "bookViews") && !haveBookViews) {
            bookViews = tag;
            haveBookViews = true;
            inBookViews = !tag.empty;
        } else if (depth == 1 && localNameIs(u, tag.nameBegin, tag.nameEnd, "sheets")) {
            sheets = tag;
            haveSheets = true;
        } else if (depth == 2 && inBookViews && localNameIs(u, tag.nameBegin, tag.nameEnd, "workbookView")) {
            view = tag;
            haveView = true;
        }
        if (!tag.empty)
            ++depth;
    }

    // The sheets element follows bookViews: reaching neither means the part ended early.
    if (!haveView && !haveSheets)
        return false;

    std::vector<Edit> edits;
    const QByteArray firstAttribute = firstSheet > 0 ? " firstSheet=\"" + first + "\"" : QByteArray();
    const QByteArray viewTag = "workbookView" + firstAttribute + " activeTab=\"" + number + "\"/>";
    if (haveView) {
        const TagAttribute *active = findAttribute(u, view, "activeTab");
        const TagAttribute *shown = findAttribute(u, view, "firstSheet");
        if (active)
            edits.push_back({active->valueBegin, active->valueEnd, u.encode(number)});
        else
            edits.push_back({view.nameEnd, view.nameEnd, u.encode(" activeTab=\"" + number + "\"")});
        int current = 0;
        if (shown && !parseValue(u, *shown, &current))
            return false;
        if (shown && current != firstSheet)
            edits.push_back({shown->valueBegin, shown->valueEnd, u.encode(first)});
        else if (!shown && firstSheet > 0)
            edits.push_back({view.nameEnd, view.nameEnd, u.encode(firstAttribute)});
    } else if (haveBookViews) {
        const QByteArray prefix = prefixOf(u, bookViews);
        const QByteArray child = u.encode("<") + prefix + u.encode(viewTag);
        if (bookViews.empty) {
            // <bookViews/> becomes <bookViews><workbookView .../></bookViews>
            const QByteArray closing = u.encode("</") + u.raw(bookViews.nameBegin, bookViews.nameEnd) + u.encode(">");
            edits.push_back({bookViews.end - 2, bookViews.end, u.encode(">") + child + closing});
        } else {
            edits.push_back({bookViews.end, bookViews.end, child});
        }
    } else {
        const QByteArray prefix = prefixOf(u, sheets);
        const QByteArray added = u.encode("<") + prefix + u.encode("bookViews><") + prefix + u.encode(viewTag)
            + u.encode("</") + prefix + u.encode("bookViews>");
        edits.push_back({sheets.begin, sheets.begin, added});
    }

    *out = applyEdits(u, std::move(edits));
    return true;
}

} // namespace detail
} // namespace QXlsx
