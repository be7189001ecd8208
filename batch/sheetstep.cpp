#include "batch/sheetstep.h"

#include "batch/batchprogress.h"
#include "batch/batchreport.h"
#include "batch/filenames.h"
#include "batch/sheetrecords.h"
#include "qr/qrrenderer.h"

#include "xlsxdocument.h"

#include <QDebug>
#include <QDir>

namespace {

BatchReport::Reason reasonOf(qr::ImageStatus status)
{
    switch (status) {
    case qr::ImageStatus::EmptyText:
        return BatchReport::Reason::EmptyText;
    case qr::ImageStatus::TooLong:
        return BatchReport::Reason::TextTooLong;
    case qr::ImageStatus::Written:
    case qr::ImageStatus::NotSaved:
        break;
    }
    return BatchReport::Reason::NotWritten;
}

} // namespace

void ensureDirExists(const QString &path)
{
    QDir dir;
    if (!dir.exists(path))
        dir.mkpath(path);
}

void writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout,
                     BatchProgress *progress, BatchReport *report)
{
    const QString folder = dir + QString::fromUtf8(layout.folder);
    ensureDirExists(folder);
    SheetNotes notes;
    const CodeMap codes = readSheetRecords(xlsx, layout, &notes);
    if (report) {
        report->addRecords(codes.size());
        report->addNotes(notes);
    }
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        if (progress && progress->cancelled())
            return;
        const QString fileName = it.key() + QStringLiteral(".png");
        const QString filePath = folder + QLatin1Char('/') + fileName;
        // An empty key would name a hidden ".png" that the next such row overwrites.
        const bool named = !it.key().isEmpty();
        const bool usable = named && usableAsFileName(it.key());
        qr::ImageResult result{qr::ImageStatus::NotSaved, QString()};
        if (usable)
            result = qr::writeImage(it.value(), filePath);
        if (result.status != qr::ImageStatus::Written) {
            qDebug() << QStringLiteral("%1 %2 二维码生成失败").arg(filePath, it.value());
            if (report && !named)
                report->addEmptyName(notes.emptyKeyRow);
            else if (report)
                report->addFailure(fileName, usable ? reasonOf(result.status) : BatchReport::Reason::NotAFileName,
                                   result.error);
        }
        if (progress)
            progress->recordDone();
    }
}
