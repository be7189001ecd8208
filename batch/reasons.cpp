#include "batch/reasons.h"

#include "readerror.h"

#include <QStringList>
#include "xlsxdocument.h"

namespace {

using QXlsx::ReadError;

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

QString limitText(ReadError::Limit limit)
{
    const qint64 value = ReadError::limitValue(limit);
    switch (limit) {
    case ReadError::NoLimit:
        break;
    case ReadError::FileBytes:
    case ReadError::CsvBytes:
        return QStringLiteral("文件过大，超过 %1 的上限").arg(megabytes(value));
    case ReadError::PartBytes:
    case ReadError::OtherPartBytes:
        return QStringLiteral("其中一部分解压后超过 %1 的上限").arg(megabytes(value));
    case ReadError::InflatedBytes:
        return QStringLiteral("解压后超过 %1 的上限").arg(megabytes(value));
    case ReadError::InflateRatio:
        return QStringLiteral("压缩比超过 %1:1，不像正常的工作簿").arg(value);
    case ReadError::ZipEntries:
        return QStringLiteral("包含的条目超过 %1 个的上限").arg(value);
    case ReadError::Sheets:
        return QStringLiteral("工作表超过 %1 个的上限").arg(value);
    case ReadError::Cells:
        return QStringLiteral("单元格超过 %1 个的上限").arg(value);
    case ReadError::SharedStrings:
        return QStringLiteral("文字超过 %1 条的上限").arg(value);
    case ReadError::Rows:
        return QStringLiteral("行数超过 %1 行的上限").arg(value);
    case ReadError::Columns:
        return QStringLiteral("列数超过 %1 列的上限").arg(value);
    case ReadError::XmlDepth:
        return QStringLiteral("XML 元素嵌套超过 %1 层的上限").arg(value);
    }
    return QStringLiteral("超出上限");
}

// "（part，第 N 字节处）" for a damaged file, as far as the place is known.
QString where(const ReadError &error)
{
    QStringList parts;
    if (!error.part.isEmpty())
        parts << error.part;
    if (error.offset >= 0)
        parts << QStringLiteral("第 %1 字节处").arg(error.offset);
    return parts.isEmpty() ? QString() : QStringLiteral("（%1）").arg(parts.join(QStringLiteral("，")));
}

} // namespace

QString readErrorText(const ReadError &error)
{
    switch (error.kind) {
    case ReadError::None:
        break;
    case ReadError::NotFound:
        return QStringLiteral("文件不存在");
    case ReadError::NotRegularFile:
        return QStringLiteral("不是普通文件");
    case ReadError::CannotOpen:
        return error.detail.isEmpty() ? QStringLiteral("无法打开") : QStringLiteral("无法打开（%1）").arg(error.detail);
    case ReadError::TooLarge:
    case ReadError::LimitReached:
        return limitText(error.limit);
    case ReadError::NotWorkbook:
        return QStringLiteral("不是工作簿，或文件已损坏") + where(error);
    case ReadError::Encrypted:
        return QStringLiteral("工作簿有密码保护");
    case ReadError::DamagedZip:
    case ReadError::DamagedXml:
    case ReadError::DamagedCompoundFile:
    case ReadError::DamagedRecord:
        return QStringLiteral("文件已损坏") + where(error);
    case ReadError::NotText:
        return QStringLiteral("不是文本文件，或编码不是 UTF-8 或 GB18030");
    case ReadError::UnclosedQuote:
        return QStringLiteral("第 %1 行的引号没有结束").arg(error.line);
    case ReadError::UnsupportedMethod:
        return QStringLiteral("使用了不支持的压缩方式（%1）").arg(error.detail) + where(error);
    case ReadError::UnsupportedCodePage:
        return QStringLiteral("使用了不支持的代码页 %1").arg(error.detail);
    case ReadError::BrokenUtf8:
        return QStringLiteral("第 %1 行有不是 UTF-8 的字节，文件其余部分是 UTF-8").arg(error.line);
    case ReadError::OutOfMemory:
        return QStringLiteral("内存不足，无法读取");
    }
    return QStringLiteral("无法读取");
}

QString saveErrorText(const QXlsx::SaveError &error)
{
    switch (error.kind) {
    case QXlsx::SaveError::Changed:
        return QStringLiteral("工作簿在生成期间被其他程序修改过，已保持原样，未保存（二维码图片已生成）");
    case QXlsx::SaveError::NotRegularFile:
        return QStringLiteral("不是普通文件，未保存");
    case QXlsx::SaveError::NotEditable:
        return QStringLiteral("工作簿的内容无法按需修改，未保存");
    case QXlsx::SaveError::CannotWrite:
        return error.detail.isEmpty() ? QStringLiteral("无法写入，未保存")
                                      : QStringLiteral("无法写入（%1），未保存").arg(error.detail);
    case QXlsx::SaveError::None:
    case QXlsx::SaveError::NotPackage:
        break;
    }
    return QStringLiteral("未保存");
}
