#include "batch/batchmessages.h"

#include "batch/batchengine.h"
#include "batch/reasons.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The sheets found, when none of them is a device or board sheet.
QString noSheetUsed(const BatchResult &result)
{
    constexpr int listed = 20;
    QStringList names;
    for (const QString &sheet : result.sheets.mid(0, listed))
        names << QStringLiteral("“%1”").arg(shownName(sheet));
    if (result.sheets.size() > listed)
        names << QStringLiteral("…");
    QString text = QStringLiteral("没有生成任何二维码图片：%1 中没有名称含有 “device” 或 “board” 的工作表"
                                  "（大小写须一致：Device、BOARD 不算）。")
                       .arg(QDir::toNativeSeparators(result.path));
    text += names.isEmpty() ? QStringLiteral("\n找到的工作表：无")
                            : QStringLiteral("\n找到的工作表：") + names.join(QStringLiteral("、"));
    if (QFileInfo(result.path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        text += QStringLiteral("\nCSV 文件只有一张工作表，名称就是文件名（不含扩展名）。");
    return text;
}

} // namespace

QVector<BatchMessage> batchWarnings(const BatchResult &result)
{
    const QString shownPath = QDir::toNativeSeparators(result.path);
    if (!result.read())
        return {{QStringLiteral("无法读取 %1：%2").arg(shownPath, readErrorText(result.readError)), QString()}};
    if (result.cancelled)
        return {{QStringLiteral("已取消：共 %1 条记录，已生成 %2 条").arg(result.records).arg(result.written),
                 QString()}};
    QVector<BatchMessage> warnings;
    if (result.usedSheets.isEmpty())
        warnings.append({noSheetUsed(result), QString()});
    if (result.report.any())
        warnings.append({result.report.message(), result.report.details()});
    if (result.save == BatchResult::Save::Failed)
        warnings.append(
            {QStringLiteral("未能保存 %1：%2").arg(shownPath, saveErrorText(result.saveError)), QString()});
    return warnings;
}

QString closingText(const BatchResult &result)
{
    if (result.cancelled && result.read())
        return QString();
    return result.succeeded() ? QStringLiteral("二维码信息生成成功") : QStringLiteral("二维码信息生成失败");
}
