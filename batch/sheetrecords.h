#pragma once

#include "batch/codemap.h"

#include <QHash>
#include <QVector>

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

// What a sheet holds that its records leave out, for the user to hear of.
struct SheetNotes
{
    struct TextDate
    {
        int row;
        int column;
        QString key; // of the row's record
    };

    struct RepeatedKey
    {
        int row;
        QString key; // a later row has it too, and its record is the one kept
    };

    QVector<int> unreadRows; // below the rows read, with a key in column 1
    QVector<int> unreadColumns; // right of the columns read, with a header in row 1
    QVector<TextDate> textDates; // date columns holding text, which adds nothing
    QVector<int> emptyKeyRows; // every row whose key is empty
    QVector<RepeatedKey> repeatedKeys; // rows whose key a later row repeats (empty keys aside)
    QHash<QString, int> rowOfKey; // the row each record comes from: the last with its key
};

// The records of the sheet selected in xlsx; what they leave out into *notes.
CodeMap readSheetRecords(const QXlsx::Document &xlsx, const SheetLayout &layout, SheetNotes *notes = nullptr);

// How many records readSheetRecords gives for the selected sheet (distinct
// keys), without building them.
int countSheetRecords(const QXlsx::Document &xlsx, const SheetLayout &layout);

// The calendar date (yyyy-MM-dd) of a spreadsheet serial day number.
QString serialDateText(double serial, bool date1904);
