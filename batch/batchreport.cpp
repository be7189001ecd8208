#include "batch/batchreport.h"

#include <algorithm>

QString shownName(const QString &name)
{
    QString out;
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate();
        const uint code = pair ? QChar::surrogateToUcs4(c, name.at(i + 1)) : c.unicode();
        if (!QChar::isPrint(code))
            out += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
        else
            out += pair ? name.mid(i, 2) : QString(c);
        i += pair;
    }
    constexpr int longest = 64;
    if (out.size() > longest)
        out = out.left(longest / 2 - 1) + QStringLiteral("…") + out.right(longest / 2 - 1);
    return out;
}

namespace {

QString reasonText(BatchReport::Reason reason, const QString &detail)
{
    switch (reason) {
    case BatchReport::Reason::EmptyText:
        return QStringLiteral("内容为空");
    case BatchReport::Reason::HasNul:
        return QStringLiteral("内容含有空字符（U+0000）");
    case BatchReport::Reason::TextTooLong:
        return QStringLiteral("内容过长，超出二维码容量");
    case BatchReport::Reason::NotAFileName:
        return QStringLiteral("名称不能用作文件名");
    case BatchReport::Reason::ThroughLink:
        return QStringLiteral("路径经过符号链接，未写入");
    case BatchReport::Reason::NotWritten:
        break;
    }
    return detail.isEmpty() ? QStringLiteral("无法写入") : QStringLiteral("无法写入（%1）").arg(detail);
}

} // namespace

void BatchReport::startSheet(const QString &sheet)
{
    m_sheet = sheet;
}

void BatchReport::addFailure(const QString &fileName, Reason reason, const QString &detail)
{
    add(QStringLiteral("%1：%2").arg(shownName(fileName), reasonText(reason, detail)));
    ++m_failed;
}

void BatchReport::addEmptyNames(const QVector<int> &rows)
{
    for (const int row : rows)
        add(QStringLiteral("第 %1 行：名称为空").arg(row));
    ++m_failed;
    m_unnamedRows += std::max(int(rows.size()) - 1, 0);
}

void BatchReport::addFolderFailure(const QString &folderName, const QString &detail, int records)
{
    m_failed += records;
    if (m_failedFolders.contains(folderName))
        return;
    m_failedFolders << folderName;
    add(QStringLiteral("无法创建文件夹 %1（%2），本表 %3 条记录均未生成二维码图片")
            .arg(shownName(folderName), detail.isEmpty() ? QStringLiteral("原因不明") : detail)
            .arg(records));
}

void BatchReport::addOverwritten(const QString &sheet, int row, int laterRow)
{
    const QString line = sheet == m_sheet
        ? QStringLiteral("第 %1 行：与第 %2 行写入同一文件，图片被覆盖").arg(row).arg(laterRow)
        : QStringLiteral("第 %1 行：与工作表 %2 第 %3 行写入同一文件，图片被覆盖")
              .arg(row)
              .arg(shownName(m_sheet))
              .arg(laterRow);
    m_entries.append({sheet, line});
    ++m_overwritten;
}

void BatchReport::addNotes(const SheetNotes &notes)
{
    for (const int row : notes.unreadRows)
        add(QStringLiteral("第 %1 行：未读取（第 1 列中间有空单元格）").arg(row));
    for (const int column : notes.unreadColumns)
        add(QStringLiteral("第 %1 列：未读取（第 1 行中间有空单元格）").arg(column));
    for (const SheetNotes::TextDate &date : notes.textDates)
        add(QStringLiteral("%1：第 %2 行第 %3 列的日期是文字，未写入二维码")
                .arg(shownName(date.key + QStringLiteral(".png")))
                .arg(date.row)
                .arg(date.column));
    m_unreadRows += notes.unreadRows.size();
    m_unreadColumns += notes.unreadColumns.size();
    m_textDates += notes.textDates.size();
}

QString BatchReport::text(int entries) const
{
    QStringList extra;
    if (m_unreadRows)
        extra << QStringLiteral("%1 行未读取").arg(m_unreadRows);
    if (m_unreadColumns)
        extra << QStringLiteral("%1 列未读取").arg(m_unreadColumns);
    if (m_textDates)
        extra << QStringLiteral("%1 个日期未写入").arg(m_textDates);
    if (m_overwritten)
        extra << QStringLiteral("%1 行的图片被覆盖").arg(m_overwritten);
    if (m_unnamedRows)
        extra << QStringLiteral("%1 行名称为空").arg(m_unnamedRows);
    QString first = QStringLiteral("共 %1 条记录，其中 %2 条未能生成二维码图片").arg(m_records).arg(m_failed);
    if (!extra.isEmpty())
        first += QStringLiteral("，另有 ") + extra.join(QStringLiteral("，"));
    QStringList lines{first + QStringLiteral("：")};
    const int shownEntries = std::min(entries, int(m_entries.size()));
    for (int i = 0; i < shownEntries; ++i) {
        const Entry &e = m_entries.at(i);
        if (i == 0 || m_entries.at(i - 1).sheet != e.sheet)
            lines << QStringLiteral("工作表 %1：").arg(shownName(e.sheet));
        lines << QStringLiteral("  ") + e.line;
    }
    if (m_entries.size() > shownEntries)
        lines << QStringLiteral("…");
    return lines.join(QLatin1Char('\n'));
}

QString BatchReport::message() const
{
    return text(listed);
}

QString BatchReport::details() const
{
    return text(int(m_entries.size()));
}
