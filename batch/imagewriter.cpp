#include "batch/batchprogress.h"
#include "batch/sheetrecords.h"
#include "ui/kestrova.h"

#include "xlsxdocument.h"

#include <QDebug>
#include <QDir>

namespace {

// Keys name files inside the output folder only: no absolute path,
// no backslash, no parent-folder step.
bool staysInFolder(const QString &key)
{
    if (key.startsWith(QLatin1Char('/')) || key.contains(QLatin1Char('\\')) || !QDir::isRelativePath(key))
        return false;
    const QStringList steps = (key + QStringLiteral(".png")).split(QLatin1Char('/'));
    return !steps.contains(QStringLiteral(".."));
}

} // namespace

void Kestrova::ensureDirExists(QString path)
{
    QDir dir;
    if (!dir.exists(path))
        dir.mkpath(path);
}

void Kestrova::createDeviceCodes(QString dir, QXlsx::Document &xlsx, BatchProgress *progress)
{
    writeSheetCodes(dir, xlsx, SheetLayout::device, progress);
}

void Kestrova::createBoardCodes(QString dir, QXlsx::Document &xlsx, BatchProgress *progress)
{
    writeSheetCodes(dir, xlsx, SheetLayout::board, progress);
}

void Kestrova::writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout,
                               BatchProgress *progress)
{
    const QString folder = dir + QString::fromUtf8(layout.folder);
    ensureDirExists(folder);
    const CodeMap codes = readSheetRecords(xlsx, layout);
    if (progress)
        progress->setRecords(codes.size());
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        const QString filePath = folder + QLatin1Char('/') + it.key() + QStringLiteral(".png");
        if (!staysInFolder(it.key()) || !generateQrCodeImage(it.value(), filePath))
            qDebug() << QStringLiteral("%1 %2 二维码生成失败").arg(filePath, it.value());
        if (progress)
            progress->recordWritten();
    }
}
