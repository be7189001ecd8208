#include "batch/batchfailures.h"

#include <QStringList>

namespace {

// A name as the box can show it: characters without a glyph of their own
// (controls, lone surrogates, format characters) as \uXXXX, a long name
// shortened in the middle.
QString shown(const QString &name)
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

QString reasonText(BatchFailures::Reason reason, const QString &detail)
{
    switch (reason) {
    case BatchFailures::Reason::EmptyText:
        return QStringLiteral("内容为空");
    case BatchFailures::Reason::TextTooLong:
        return QStringLiteral("内容过长，超出二维码容量");
    case BatchFailures::Reason::NotAFileName:
        return QStringLiteral("名称不能用作文件名");
    case BatchFailures::Reason::NotWritten:
        break;
    }
    return detail.isEmpty() ? QStringLiteral("无法写入") : QStringLiteral("无法写入（%1）").arg(detail);
}

} // namespace

void BatchFailures::add(const QString &fileName, Reason reason, const QString &detail)
{
    if (m_first.size() < listed)
        m_first.append({m_sheet, fileName, reason, detail});
    ++m_failed;
}

QString BatchFailures::message() const
{
    QStringList lines{QStringLiteral("共 %1 条记录，其中 %2 条未能生成二维码图片：").arg(m_records).arg(m_failed)};
    for (int i = 0; i < m_first.size(); ++i) {
        const Failure &f = m_first.at(i);
        if (i == 0 || m_first.at(i - 1).sheet != f.sheet)
            lines << QStringLiteral("工作表 %1：").arg(shown(f.sheet));
        lines << QStringLiteral("  %1：%2").arg(shown(f.fileName), reasonText(f.reason, f.detail));
    }
    if (m_failed > m_first.size())
        lines << QStringLiteral("…");
    return lines.join(QLatin1Char('\n'));
}
