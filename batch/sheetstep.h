#pragma once

#include "batch/batchengine.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

namespace QXlsx {
class Document;
}
struct SheetLayout;

// The run a sheet step is part of: where its progress goes, the account it
// adds to, and which files the records before it wrote.
class BatchState
{
public:
    explicit BatchState(BatchObserver *observer, BatchResult *result);

    BatchResult &result() { return *m_result; }
    void startSheet(const QString &sheet);
    const QString &sheet() const { return m_sheet; }
    bool stopRequested();
    void recordDone(bool written);
    // An image written to filePath for row of the current sheet; tells the
    // report when it replaced one that an earlier record of this run wrote.
    void imageWritten(const QString &filePath, int row, const QString &key);

private:
    BatchObserver *m_observer;
    BatchResult *m_result;
    QString m_sheet;
    int m_done = 0; // records handled so far
    QElapsedTimer m_sinceUpdate;
    QHash<QString, int> m_imageOfFile; // a file's identity -> its entry in result.images
};

// Makes the folder (and its parents) unless something of that name exists.
void ensureDirExists(const QString &path);

// One sheet step: makes the layout's folder under dir and writes one image
// per record of the sheet selected in xlsx, in key order. With a state, the
// records without an image and what the sheet leaves out go into its report,
// and a stop requested there ends the step before its next image.
void writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout,
                     BatchState *state = nullptr);
