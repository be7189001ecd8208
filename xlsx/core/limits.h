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

// What one zip entry may inflate to, and all entries read together.
constexpr qint64 SheetPartBytes = 128 * MiB; // one sheet or the shared strings
constexpr qint64 OtherPartBytes = 16 * MiB; // relationships, the workbook part
constexpr qint64 InflatedBytes = 256 * MiB;
// How much larger than its stored bytes an entry may inflate, once it has put
// out more than InflateRatioFrom. Deflate's best is 1032:1, on long runs of
// one byte, which is what a zip bomb holds; the parts of the 1,062 corpus
// workbooks reach 56:1 at most (sheets 20:1). Small parts may have any ratio.
constexpr qint64 InflateRatio = 256;
constexpr qint64 InflateRatioFrom = OtherPartBytes;
constexpr int ZipEntries = 65535;
// A part in another encoding than UTF-8 is converted whole before it is read.
constexpr qint64 ConvertedPartBytes = 32 * MiB;
// Elements open inside each other in an XML part. The 1,062 corpus workbooks
// nest 14 deep at most (charts), their sheets 8; each level open costs the
// reader its element's name.
constexpr int XmlDepth = 1000;

// A worksheet's size, as the spreadsheet programs have it.
constexpr int Rows = 1048576;
constexpr int Columns = 16384;

// Text kept of one cell: the most a spreadsheet program holds in one. A
// longer text is cut there; its record could never fit a QR code (7,089
// characters at most) and is reported as too long all the same.
constexpr int CellText = 32767;
constexpr int CellTextBytes = 3 * CellText; // the most UTF-8 that many characters take

// Over the whole workbook, whatever kind of file it came from.
constexpr int Sheets = 10000;
constexpr int Cells = 4000000;
constexpr int SharedStrings = 4000000;

} // namespace limits
} // namespace QXlsx
