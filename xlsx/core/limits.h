#pragma once

// Every limit the readers keep, against hostile or runaway files. The
// 100,000 x 8 benchmark workbook (800,000 cells, a 40 MB sheet part) sits
// well inside them; a hostile file stays at a few hundred MB and seconds.

#include <QtGlobal>

namespace QXlsx {
namespace limits {

constexpr qint64 MiB = 1024 * 1024;

// A workbook file (.xlsx, .xls) is read whole into memory.
constexpr qint64 FileBytes = 512 * MiB;
constexpr qint64 CsvBytes = 128 * MiB;

// What one zip entry may inflate to, all entries read together, and how much
// larger than its stored bytes an entry may inflate (deflate's own best is
// about 1032:1; a package part compresses to a few per cent at most).
constexpr qint64 SheetPartBytes = 128 * MiB; // one sheet or the shared strings
constexpr qint64 OtherPartBytes = 16 * MiB; // relationships, the workbook part
constexpr qint64 InflatedBytes = 256 * MiB;
constexpr qint64 InflateRatio = 1100;
constexpr int ZipEntries = 65535;

// A worksheet's size, as the spreadsheet programs have it.
constexpr int Rows = 1048576;
constexpr int Columns = 16384;

// Over the whole workbook, whatever kind of file it came from.
constexpr int Sheets = 10000;
constexpr int Cells = 4000000;
constexpr int SharedStrings = 4000000;

} // namespace limits
} // namespace QXlsx
