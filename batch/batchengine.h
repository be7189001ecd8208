#pragma once

// The batch: a workbook in, one QR code image per record of its device and
// board sheets out, the .xlsx saved back, and an account of what happened.
// It shows nothing and asks nothing; the window and the command line are
// its faces.

#include "batch/batchreport.h"

#include "readerror.h"

#include <QString>
#include <QStringList>
#include <QVector>

// How a run is followed while it works: called between images, no more
// often than a progress display needs, and the only way out of the engine
// while it runs.
class BatchObserver
{
public:
    virtual ~BatchObserver() = default;
    // Before the first image: how many records the whole workbook has.
    virtual void started(int records) = 0;
    // done records so far, the last of them from sheet.
    virtual void advanced(int done, const QString &sheet) = 0;
    // Asked before each image; true stops the run there.
    virtual bool stopRequested() = 0;
};

struct BatchOptions
{
    bool saveBack = true; // write an .xlsx back over itself when the run is done
};

// An image in place at the end of a run.
struct WrittenImage
{
    QString sheet;
    int row; // the record's row in its sheet
    QString key;
    QString file; // its path
};

struct BatchResult
{
    enum class Save {
        NotTried, // not read, cancelled, or not asked for
        Saved,
        LeftAsIs, // an .xls or CSV file: the run changes no cell and only an .xlsx is written back
        Failed, // saveError says why; the file is as it was
    };

    QString path;
    QXlsx::ReadError readError; // set when the file was not read, and nothing else happened
    QStringList sheets; // every sheet of the workbook, in order
    QStringList usedSheets; // those read as device or board sheets
    BatchReport report;
    QVector<WrittenImage> images; // in the order written
    int records = 0; // over the whole workbook
    int written = 0; // records that got their image
    bool cancelled = false;
    Save save = Save::NotTried;
    QXlsx::SaveError saveError;

    bool read() const { return readError.isNull(); }
    // The run did what was asked: read, not stopped, and saved if it was to be.
    bool succeeded() const { return read() && !cancelled && save != Save::Failed; }
    // Every record got an image of its own.
    bool complete() const { return succeeded() && report.failed() == 0 && report.rowsWithoutImage() == 0; }
};

// Runs the batch over the workbook at path. Every sheet is selected in turn;
// a sheet whose name contains "device" (tested first) or "board", exactly
// as written, gives its records' images in a folder beside the workbook.
BatchResult runBatch(const QString &path, const BatchOptions &options = BatchOptions(),
                     BatchObserver *observer = nullptr);
