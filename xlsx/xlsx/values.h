#pragma once

// Values as a package part writes them: numbers, booleans, cell references
// and text with its _xHHHH_ escapes.

#include "xml/xmlreader.h"

#include <QString>

#include <string>
#include <string_view>

namespace QXlsx {
namespace detail {

std::string_view trimmed(std::string_view s);
// Decimal digits only, at most max; white space around is allowed.
bool parseUInt(std::string_view text, int max, int *out);
// 1, 0, true or false.
bool parseBool(std::string_view text, bool *out);
// A finite number in the form C++ reads it, with an optional '+'.
bool parseDouble(std::string_view text, double *out);
// "B12" gives row 12, column 2; false outside the sheet.
bool parseReference(std::string_view ref, int *row, int *column);

// Appends the text just read while out holds less than a cell keeps.
void appendCapped(const XmlReader &x, std::string *out);
// The text of a cell or shared string: _xHHHH_ escapes resolved, at most
// the characters a cell keeps.
QString unescapeText(const std::string &utf8);

// Collects the text of an <si> or <is> element at depth base: its <t>, or the
// <t> of its <r> runs, leaving out phonetic runs.
struct TextCollector
{
    int base = 0;
    bool inRun = false;
    bool capture = false;
    std::string text;

    void reset(int depth)
    {
        base = depth;
        inRun = capture = false;
        text.clear();
    }
    void start(const XmlReader &x)
    {
        if (x.depth() == base + 1) {
            inRun = x.nameIs("r");
            capture = x.nameIs("t");
        } else if (x.depth() == base + 2 && inRun) {
            capture = x.nameIs("t");
        }
    }
    void end(int depth)
    {
        capture = false;
        if (depth == base + 1)
            inRun = false;
    }
};

} // namespace detail
} // namespace QXlsx
