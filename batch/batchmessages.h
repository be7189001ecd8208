#pragma once

#include <QString>
#include <QVector>

struct BatchResult;

// What a run tells its user, in the same words whichever face shows them.
struct BatchMessage
{
    QString text;
    QString details; // every entry, where text lists only the first ones
};

// The warnings of a finished run, in the order they are told: why the file
// was not read; or that the run was cancelled and how far it got; or that no
// sheet was used, the records without an image and why the workbook was not
// saved back.
QVector<BatchMessage> batchWarnings(const BatchResult &result);

// The closing words: "二维码信息生成成功" or "二维码信息生成失败"; empty
// after a cancel, whose warning says it all.
QString closingText(const BatchResult &result);
