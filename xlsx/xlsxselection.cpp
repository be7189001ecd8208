// Which tab a saved workbook opens on, and the part edits that make it so.

#include "xlsxworkbook.h"

#include <algorithm>

namespace QXlsx {
namespace detail {

namespace {

// The first tab shown in the tab bar: at most tab, and a visible one.
int firstSheetFor(const Workbook &book, int tab)
{
    int first = std::min(book.firstSheet, tab);
    while (first < tab && book.sheets[size_t(first)].hidden)
        ++first;
    return first;
}

} // namespace

int activeTabFor(const Workbook &book, int selected)
{
    const int count = int(book.sheets.size());
    if (selected < 0 || selected >= count || !book.sheets[size_t(selected)].hidden)
        return selected;
    for (int i = selected - 1; i >= 0; --i) {
        if (!book.sheets[size_t(i)].hidden)
            return i;
    }
    for (int i = selected + 1; i < count; ++i) {
        if (!book.sheets[size_t(i)].hidden)
            return i;
    }
    return selected; // none is visible
}

bool selectionEdits(Workbook &book, int selected, std::map<int, QByteArray> *replacements)
{
    const int tab = activeTabFor(book, selected);
    if (tab < 0 || tab >= int(book.sheets.size()))
        return false;
    bool othersSelected = false;
    for (size_t i = 0; i < book.sheets.size(); ++i)
        othersSelected = othersSelected || (int(i) != tab && book.sheets[i].tabSelected);
    if (tab == book.activeTab && !othersSelected)
        return true;

    // Each edited part is read back to be sure the edit did what it should.
    const int first = firstSheetFor(book, tab);
    if (tab != book.activeTab || first != book.firstSheet) {
        QByteArray xml, edited;
        int readTab = -1;
        int readFirst = -1;
        if (!inflatePart(book, book.workbookEntry, limits::OtherPartBytes, &xml) || !markActiveTab(xml, tab, first, &edited)
            || !readBookView(edited, &readTab, &readFirst) || readTab != tab || readFirst != first)
            return false;
        (*replacements)[book.workbookEntry] = std::move(edited);
    }
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        const Sheet &sheet = book.sheets[i];
        const bool active = int(i) == tab;
        // The active tab gets tabSelected where it has a view to carry it.
        if (sheet.entry < 0 || (active ? !sheet.hasView || sheet.tabSelected : !sheet.tabSelected))
            continue;
        if (replacements->count(sheet.entry))
            return false; // one part for two sheets
        QByteArray xml, edited;
        bool hasView = false;
        bool isSelected = false;
        if (!inflatePart(book, sheet.entry, limits::SheetPartBytes, &xml) || !markTabSelected(xml, active, &edited)
            || !readTabSelected(edited, &hasView, &isSelected) || isSelected != active)
            return false;
        (*replacements)[sheet.entry] = std::move(edited);
    }
    return true;
}

} // namespace detail
} // namespace QXlsx
