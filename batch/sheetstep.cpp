#include "batch/batchfailures.h"
#include "batch/batchprogress.h"
#include "batch/sheetrecords.h"
#include "qr/qrrenderer.h"
#include "ui/kestrova.h"

#include "xlsxdocument.h"

#include <QDebug>
#include <QDir>

namespace {

// Keys name files inside the output folder only (no absolute path, no
// backslash, no parent-folder step), and only with characters a file name
// holds as they stand: a NUL would cut the name short, a lone surrogate
// turns into "?", control characters are refused or mangled by some systems.
bool usableAsFileName(const QString &key)
{
    for (int i = 0; i < key.size(); ++i) {
        const QChar c = key.at(i);
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.isLowSurrogate())
            return false;
        if (c.isHighSurrogate() && !(i + 1 < key.size() && key.at(++i).isLowSurrogate()))
            return false;
    }
    if (key.startsWith(QLatin1Char('/')) || key.contains(QLatin1Char('\\')) || !QDir::isRelativePath(key))
        return false;
    const QStringList steps = (key + QStringLiteral(".png")).split(QLatin1Char('/'));
    return !steps.contains(QStringLiteral(".."));
}

BatchFailures::Reason reasonOf(qr::ImageStatus status)
{
    switch (status) {
    case qr::ImageStatus::EmptyText:
        return BatchFailures::Reason::EmptyText;
    case qr::ImageStatus::TooLong:
        return BatchFailures::Reason::TextTooLong;
    case qr::ImageStatus::Written:
    case qr::ImageStatus::NotSaved:
        break;
    }
    return BatchFailures::Reason::NotWritten;
}

} // namespace

void Kestrova::ensureDirExists(QString path)
{
    QDir dir;
    if (!dir.exists(path))
        dir.mkpath(path);
}

void Kestrova::createDeviceCodes(QString dir, QXlsx::Document &xlsx, BatchProgress *progress,
                                 BatchFailures *failures)
{
    writeSheetCodes(dir, xlsx, SheetLayout::device, progress, failures);
}

void Kestrova::createBoardCodes(QString dir, QXlsx::Document &xlsx, BatchProgress *progress,
                                BatchFailures *failures)
{
    writeSheetCodes(dir, xlsx, SheetLayout::board, progress, failures);
}

void Kestrova::writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout,
                               BatchProgress *progress, BatchFailures *failures)
{
    const QString folder = dir + QString::fromUtf8(layout.folder);
    ensureDirExists(folder);
    const CodeMap codes = readSheetRecords(xlsx, layout);
    if (progress)
        progress->setRecords(codes.size());
    if (failures)
        failures->addRecords(codes.size());
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        const QString fileName = it.key() + QStringLiteral(".png");
        const QString filePath = folder + QLatin1Char('/') + fileName;
        qr::ImageResult result{qr::ImageStatus::NotSaved, QString()};
        const bool usable = usableAsFileName(it.key());
        if (usable)
            result = qr::writeImage(it.value(), filePath);
        if (result.status != qr::ImageStatus::Written) {
            qDebug() << QStringLiteral("%1 %2 二维码生成失败").arg(filePath, it.value());
            if (failures)
                failures->add(fileName, usable ? reasonOf(result.status) : BatchFailures::Reason::NotAFileName,
                              result.error);
        }
        if (progress)
            progress->recordWritten();
    }
}
