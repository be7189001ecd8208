#include "cli/commandline.h"

#include "cli/console.h"
#include "cli/interrupt.h"

#include "batch/batchengine.h"
#include "batch/batchmessages.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

using console::Stream;

const char usage[] =
    "用法：kestrova-batch [--no-save] [--list] 工作簿\n"
    "\n"
    "与窗口中的“从Excel文件生成”相同：工作簿（.xlsx、.xls 或 .csv）中名称含有 \"device\" 或\n"
    "\"board\" 的工作表，每条记录在工作簿旁生成一个二维码图片，.xlsx 工作簿随后写回。\n"
    "\n"
    "  --no-save   不写回工作簿，文件保持原样\n"
    "  --list      在标准输出上每生成一个图片列一行：工作表、行号、名称、文件（以 Tab 分隔）\n"
    "  -h, --help  显示本说明\n"
    "  --version   显示版本\n"
    "\n"
    "退出状态：0 每条记录都生成了图片，工作簿已写回（或 --no-save）；1 有记录没有生成图片；\n"
    "2 文件无法读取或无法写回；130 被中断（Ctrl-C）；64 用法错误。\n";

// Follows the run on a terminal: one line, redrawn in place.
class TerminalProgress : public BatchObserver
{
public:
    explicit TerminalProgress(bool shown) : m_shown(shown) {}
    ~TerminalProgress() override { m_line.clear(); }

    void started(int records) override { m_total = records; }
    void advanced(int done, const QString &sheet) override
    {
        if (m_shown)
            m_line.show(QStringLiteral("二维码生成中：%1 %2 / %3").arg(shownName(sheet)).arg(done).arg(m_total));
    }
    bool stopRequested() override { return interrupt::Watch::requested(); }

private:
    bool m_shown;
    int m_total = 0;
    console::StatusLine m_line;
};

// A field of a --list line: tabs and line breaks (which no key and no file
// name holds) written \t, \n and \r; backslashes, as in Windows paths, stay.
QString field(QString text)
{
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

int usageError(const QString &why)
{
    console::line(Stream::Err, QStringLiteral("kestrova-batch：%1").arg(why));
    console::write(Stream::Err, QString::fromUtf8(usage));
    return exitstatus::Usage;
}

int exitStatusOf(const BatchResult &result)
{
    if (result.cancelled && result.read())
        return interrupt::Watch::exitStatus();
    if (!result.succeeded())
        return exitstatus::NotReadOrSaved;
    return result.complete() ? exitstatus::Done : exitstatus::SomeWithout;
}

} // namespace

int runCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption noSave(QStringLiteral("no-save"));
    const QCommandLineOption list(QStringLiteral("list"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({noSave, list, help, version});
    parser.addPositionalArgument(QStringLiteral("workbook"), QString());
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        console::write(Stream::Out, QString::fromUtf8(usage));
        return exitstatus::Done;
    }
    if (parser.isSet(version)) {
        console::line(Stream::Out, QStringLiteral("kestrova-batch " KESTROVA_VERSION));
        return exitstatus::Done;
    }
    const QStringList workbooks = parser.positionalArguments();
    if (workbooks.size() != 1)
        return usageError(workbooks.isEmpty() ? QStringLiteral("没有给出工作簿") : QStringLiteral("只能给出一个工作簿"));

    // The path as the window's file dialog gives it: absolute, with "/".
    const QString path = QDir::fromNativeSeparators(QFileInfo(workbooks.first()).absoluteFilePath());
    BatchOptions options;
    options.saveBack = !parser.isSet(noSave);
    BatchResult result;
    {
        const interrupt::Watch watch;
        TerminalProgress progress(console::errorIsTerminal());
        result = runBatch(path, options, &progress);
    }
    if (parser.isSet(list)) {
        for (const WrittenImage &image : qAsConst(result.images))
            console::line(Stream::Out, QStringLiteral("%1\t%2\t%3\t%4")
                                           .arg(field(image.sheet))
                                           .arg(image.row)
                                           .arg(field(image.key), field(QDir::toNativeSeparators(image.file))));
    }
    for (const BatchMessage &warning : batchWarnings(result))
        console::line(Stream::Err, warning.details.isEmpty() ? warning.text : warning.details);
    const QString closing = closingText(result);
    if (!closing.isEmpty())
        console::line(Stream::Err, closing);
    return exitStatusOf(result);
}
