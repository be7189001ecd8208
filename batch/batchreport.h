#pragma once

#include <QString>
#include <QVector>

// The records of a batch run whose image was not written, sheet by sheet,
// and the warning text that tells the user about them.
class BatchFailures
{
public:
    enum class Reason { EmptyText, TextTooLong, NotAFileName, NotWritten };

    void startSheet(const QString &sheet) { m_sheet = sheet; }
    void addRecords(int count) { m_records += count; }
    // detail: the system's reason for NotWritten, when there is one.
    void add(const QString &fileName, Reason reason, const QString &detail = QString());

    int records() const { return m_records; }
    int failed() const { return m_failed; }
    // How many records failed out of how many, then the first failures
    // (file name and reason, under their sheet) and "…" when there are more.
    QString message() const;

private:
    static constexpr int listed = 20;

    struct Failure
    {
        QString sheet;
        QString fileName;
        Reason reason;
        QString detail;
    };

    QString m_sheet;
    int m_records = 0;
    int m_failed = 0;
    QVector<Failure> m_first;
};
