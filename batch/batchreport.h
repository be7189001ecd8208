#pragma once

#include "batch/sheetrecords.h"

#include <QString>
#include <QStringList>

// The account of a batch run, sheet by sheet: the records whose image was
// not written, the rows that got no image of their own, and what the sheets
// hold that no record carries (rows and columns not read, dates typed as
// text). It makes the warning that tells the user, with the first entries in
// its text and all of them in its details.
class BatchReport
{
public:
    enum class Reason { EmptyText, HasNul, TextTooLong, NotAFileName, ThroughLink, NotWritten };

    void startSheet(const QString &sheet);
    void addRecords(int count) { m_records += count; }
    // detail: the system's reason for NotWritten, when there is one.
    void addFailure(const QString &fileName, Reason reason, const QString &detail = QString());
    // The record of the empty key got no image; rows: every row with that key.
    void addEmptyNames(const QVector<int> &rows);
    // The output folder could not be made, so none of the sheet's records
    // (records) got an image; said once per folder, counted for every sheet.
    void addFolderFailure(const QString &folderName, const QString &detail, int records);
    // The image of row (of sheet, when that is not the current one) was
    // replaced by the one of laterRow of the current sheet.
    void addOverwritten(const QString &sheet, int row, int laterRow);
    void addNotes(const SheetNotes &notes);

    int records() const { return m_records; }
    int failed() const { return m_failed; }
    // Rows that got no image of their own beyond the failed records: an
    // image replaced by a later row's, further rows with an empty key.
    int rowsWithoutImage() const { return m_overwritten + m_unnamedRows; }
    // Anything to tell: a failure, or something left out.
    bool any() const { return !m_entries.isEmpty(); }
    // How many records failed out of how many (and what else was left out),
    // then the first entries under their sheets and "…" when there are more.
    QString message() const;
    // The same with every entry.
    QString details() const;

private:
    static constexpr int listed = 20;

    struct Entry
    {
        QString sheet;
        QString line;
    };

    void add(const QString &line) { m_entries.append({m_sheet, line}); }
    QString text(int entries) const;

    QString m_sheet;
    int m_records = 0;
    int m_failed = 0;
    int m_unreadRows = 0;
    int m_unreadColumns = 0;
    int m_textDates = 0;
    int m_overwritten = 0;
    int m_unnamedRows = 0;
    QVector<Entry> m_entries;
    QStringList m_failedFolders;
};

// A name as a box or a terminal line can show it: characters without a glyph
// of their own (controls, lone surrogates, format characters) as \uXXXX, a
// long name shortened in the middle.
QString shownName(const QString &name);
