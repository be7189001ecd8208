#pragma once

#include "batch/codemap.h"

namespace QXlsx {
class Document;
}

// How the rows of one kind of sheet become records.
struct SheetLayout
{
    int keyColumn;
    int firstPayloadColumn;
    int dateColumns[2];
    int keySuffixColumn;  // 0: no suffix
    bool logPayload;
    const char *folder;   // output folder, appended to the workbook folder

    static const SheetLayout device;
    static const SheetLayout board;
};

// The records of the sheet selected in xlsx.
CodeMap readSheetRecords(const QXlsx::Document &xlsx, const SheetLayout &layout);

// The calendar date (yyyy-MM-dd) of a spreadsheet serial day number.
QString serialDateText(double serial, bool date1904);
