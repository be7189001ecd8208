// Marks a sheet as the active tab by editing the workbook part's text in place:
// only the workbookView start tag changes (or a bookViews element is added), so
// every other byte of the part stays as it was.

#include "xlsx/bookview.h"

#include "xml/tageditor.h"

namespace QXlsx {
namespace detail {

namespace {

// Where the workbook part keeps its views: the first bookViews element, its
// first workbookView, and the sheets element that follows them.
struct ViewTags
{
    Tag bookViews, view, sheets;
    bool haveBookViews = false, haveView = false, haveSheets = false;
};

bool findViewTags(const Units &u, ViewTags *t)
{
    TagScanner scanner(u);
    Tag tag;
    int depth = 0;
    bool inBookViews = false;
    while (!t->haveView && !t->haveSheets && scanner.next(&tag)) {
        if (tag.closing) {
            if (--depth == 1)
                inBookViews = false;
            if (depth < 0)
                return false;
            continue;
        }
        if (depth == 0 && !localNameIs(u, tag.nameBegin, tag.nameEnd, "workbook"))
            return false;
        if (depth == 1 && localNameIs(u, tag.nameBegin, tag.nameEnd, "bookViews") && !t->haveBookViews) {
            t->bookViews = tag;
            t->haveBookViews = true;
            inBookViews = !tag.empty;
        } else if (depth == 1 && localNameIs(u, tag.nameBegin, tag.nameEnd, "sheets")) {
            t->sheets = tag;
            t->haveSheets = true;
        } else if (depth == 2 && inBookViews && localNameIs(u, tag.nameBegin, tag.nameEnd, "workbookView")) {
            t->view = tag;
            t->haveView = true;
        }
        if (!tag.empty)
            ++depth;
    }
    // The sheets element follows bookViews: reaching neither means the part ended early.
    return t->haveView || t->haveSheets;
}

// The attributes of an existing workbookView set to tab and firstSheet.
bool editView(const Units &u, const Tag &view, int tab, int firstSheet, std::vector<Edit> *edits)
{
    const QByteArray number = QByteArray::number(tab);
    const QByteArray first = QByteArray::number(firstSheet);
    const TagAttribute *active = findAttribute(u, view, "activeTab");
    const TagAttribute *shown = findAttribute(u, view, "firstSheet");
    if (active)
        edits->push_back({active->valueBegin, active->valueEnd, u.encode(number)});
    else
        edits->push_back({view.nameEnd, view.nameEnd, u.encode(" activeTab=\"" + number + "\"")});
    int current = 0;
    if (shown && !parseValue(u, *shown, &current))
        return false;
    if (shown && current != firstSheet)
        edits->push_back({shown->valueBegin, shown->valueEnd, u.encode(first)});
    else if (!shown && firstSheet > 0)
        edits->push_back({view.nameEnd, view.nameEnd, u.encode(" firstSheet=\"" + first + "\"")});
    return true;
}

// A workbookView added into bookViews, or a bookViews holding one added
// before sheets.
Edit addView(const Units &u, const ViewTags &t, int tab, int firstSheet)
{
    const QByteArray firstAttribute = firstSheet > 0 ? " firstSheet=\"" + QByteArray::number(firstSheet) + "\"" : QByteArray();
    const QByteArray viewTag = "workbookView" + firstAttribute + " activeTab=\"" + QByteArray::number(tab) + "\"/>";
    if (t.haveBookViews) {
        const Tag &bookViews = t.bookViews;
        const QByteArray prefix = prefixOf(u, bookViews);
        const QByteArray child = u.encode("<") + prefix + u.encode(viewTag);
        if (!bookViews.empty)
            return {bookViews.end, bookViews.end, child};
        // <bookViews/> becomes <bookViews><workbookView .../></bookViews>
        const QByteArray closing = u.encode("</") + u.raw(bookViews.nameBegin, bookViews.nameEnd) + u.encode(">");
        return {bookViews.end - 2, bookViews.end, u.encode(">") + child + closing};
    }
    const QByteArray prefix = prefixOf(u, t.sheets);
    const QByteArray added = u.encode("<") + prefix + u.encode("bookViews><") + prefix + u.encode(viewTag)
        + u.encode("</") + prefix + u.encode("bookViews>");
    return {t.sheets.begin, t.sheets.begin, added};
}

} // namespace

bool markActiveTab(const QByteArray &xml, int tab, int firstSheet, QByteArray *out)
{
    const Units u(xml);
    if (!u.editable() || tab < 0 || firstSheet < 0 || firstSheet > tab)
        return false;
    ViewTags tags;
    if (!findViewTags(u, &tags))
        return false;
    std::vector<Edit> edits;
    if (tags.haveView) {
        if (!editView(u, tags.view, tab, firstSheet, &edits))
            return false;
    } else {
        edits.push_back(addView(u, tags, tab, firstSheet));
    }
    *out = applyEdits(u, std::move(edits));
    return true;
}

} // namespace detail
} // namespace QXlsx
