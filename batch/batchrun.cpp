#include "batch/batchrun.h"

#include "batch/batchprogress.h"
#include "batch/batchreport.h"
#include "batch/reasons.h"
#include "batch/sheetrecords.h"
#include "batch/sheetstep.h"
#include "ui/startfolder.h"

#include "xlsxdocument.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace {

// The layout of a sheet by its name; "device" is tested first. Null for neither.
const SheetLayout *layoutFor(const QString &sheet)
{
    if (sheet.contains(QLatin1String("device"), Qt::CaseSensitive))
        return &SheetLayout::device;
    if (sheet.contains(QLatin1String("board"), Qt::CaseSensitive))
        return &SheetLayout::board;
    return nullptr;
}

struct Outcome
{
    bool cancelled = false;
    bool closeRequested = false;
    int total = 0; // records of every sheet read
    int written = 0;
};

// Every sheet selected in turn, each device and board sheet written out.
Outcome writeSheets(QWidget *window, QXlsx::Document &xlsx, const QString &dir, BatchReport *report)
{
    const QStringList sheets = xlsx.sheetNames();
    BatchProgress progress(window);
    Outcome outcome;
    // Counted first, so that the progress runs over the whole workbook.
    for (const QString &sheet : sheets) {
        if (const SheetLayout *layout = layoutFor(sheet)) {
            xlsx.selectSheet(sheet);
            outcome.total += countSheetRecords(xlsx, *layout);
        }
    }
    progress.setTotal(outcome.total);
    for (const QString &sheet : sheets) {
        xlsx.selectSheet(sheet);
        progress.startSheet(sheet);
        report->startSheet(sheet);
        if (const SheetLayout *layout = layoutFor(sheet))
            writeSheetCodes(dir, xlsx, *layout, &progress, report);
        if (progress.cancelled())
            break;
    }
    progress.finish();
    outcome.cancelled = progress.cancelled();
    outcome.closeRequested = progress.closeRequested();
    outcome.written = progress.done() - report->failed();
    return outcome;
}

} // namespace

void BatchRun::warn(const QString &text, const QString &details) const
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Ok, m_window);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void BatchRun::run()
{
    const QString path = QFileDialog::getOpenFileName(m_window, QStringLiteral("选择文件"), dialogStartFolder(),
                                                      QStringLiteral("(*.xlsx);;(*.xls);;(*.csv)"));
    if (path.isEmpty()) {
        warn(QStringLiteral("选择文件路径为空"));
        return;
    }
    const QString shownPath = QDir::toNativeSeparators(path);
    const QString dir = QFileInfo(path).path();
    QXlsx::Document xlsx(path);
    // A file that is no readable workbook is left alone: nothing to save back.
    if (!xlsx.isLoaded()) {
        warn(QStringLiteral("无法读取 %1：%2").arg(shownPath, readErrorText(xlsx.readError())));
        warn(QStringLiteral("二维码信息生成失败"));
        return;
    }

    BatchReport report;
    const Outcome outcome = writeSheets(m_window, xlsx, dir, &report);
    if (outcome.cancelled) {
        // Stopped halfway, the run changed nothing the user asked for: no save.
        warn(QStringLiteral("已取消：共 %1 条记录，已生成 %2 条").arg(outcome.total).arg(outcome.written));
        if (outcome.closeRequested)
            m_window->close();
        return;
    }

    // An .xls or CSV file is left as it is: the run changes no cell, and only
    // an .xlsx package can be written back.
    const bool saved = !xlsx.isPackage() || xlsx.saveAs(path);
    if (report.any())
        warn(report.message(), report.details());
    if (!saved) {
        warn(QStringLiteral("未能保存 %1：%2").arg(shownPath, saveErrorText(xlsx.saveError())));
        warn(QStringLiteral("二维码信息生成失败"));
        return;
    }
    const int answer = QMessageBox::information(m_window, QStringLiteral("提示"), QStringLiteral("二维码信息生成成功"),
                                                QStringLiteral("打开文件"), QStringLiteral("取消"), QString(), 0, -1);
    if (answer == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
