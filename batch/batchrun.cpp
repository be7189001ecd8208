#include "ui/kestrova.h"

#include "batch/batchfailures.h"
#include "batch/batchprogress.h"

#include "xlsxdocument.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

void Kestrova::createFromExcel()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("选择文件"),
                                                      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                                      QStringLiteral("(*.xlsx);;(*.xls);;(*.csv)"));
    const auto warn = [this](const QString &text) {
        QMessageBox::warning(this, QStringLiteral("警告"), text, QMessageBox::Ok, QMessageBox::NoButton);
    };
    if (path.isEmpty()) {
        warn(QStringLiteral("选择文件路径为空"));
        return;
    }
    const QString dir = QFileInfo(path).path();
    QXlsx::Document xlsx(path);
    // A file that is no readable workbook is left alone: nothing to save back.
    if (!xlsx.isLoaded()) {
        warn(QStringLiteral("二维码信息生成失败"));
        return;
    }

    BatchProgress progress(this);
    BatchFailures failures;
    const QStringList sheets = xlsx.sheetNames();
    for (const QString &sheet : sheets) {
        xlsx.selectSheet(sheet);
        progress.startSheet(sheet);
        failures.startSheet(sheet);
        if (sheet.contains(QLatin1String("device"), Qt::CaseSensitive))
            createDeviceCodes(dir, xlsx, &progress, &failures);
        else if (sheet.contains(QLatin1String("board"), Qt::CaseSensitive))
            createBoardCodes(dir, xlsx, &progress, &failures);
    }
    progress.finish();

    // An .xls or CSV file is left as it is: the run changes no cell, and only
    // an .xlsx package can be written back.
    const bool saved = !xlsx.isPackage() || xlsx.saveAs(path);
    if (failures.failed() > 0)
        warn(failures.message());
    if (!saved) {
        warn(QStringLiteral("二维码信息生成失败"));
        return;
    }
    const int answer = QMessageBox::information(this, QStringLiteral("提示"), QStringLiteral("二维码信息生成成功"),
                                                QStringLiteral("打开文件"), QStringLiteral("取消"), QString(), 0, -1);
    if (answer == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
