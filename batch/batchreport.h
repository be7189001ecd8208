#pragma once

#include "batch/sheetrecords.h"

#include <QString>
#include <QStringList>

// The account of a batch run, sheet by sheet: the records whose image was
// not written, and what the sheets hold that no record carries (rows and
// columns not read, dates typed as text). It makes the warning that tells
// the user, with the first entries in its text and all of them in its details.
class BatchReport
{
public:
    enum class Reason { EmptyText, TextTooLong, NotAFileName, NotWritten };

    void startSheet(const QString &sheet);
    void addRecords(int count) { m_records += count; }
    // detail: the system's reason for NotWritten, when there is one.
    void addFailure(const QString &fileName, Reason reason, const QString &detail = QString());
    // The record of row had an empty key and got no image.
    void addEmptyName(int row);
    void addNotes(const SheetNotes &notes);

    int records() const { return m_records; }
    int failed() const { return m_failed; }
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

    void add(const QString &line);
    QString text(int entries) const;

    QString m_sheet;
    int m_records = 0;
    int m_failed = 0;
    int m_unreadRows = 0;
    int m_unreadColumns = 0;
    int m_textDates = 0;
    QVector<Entry> m_entries;
};
