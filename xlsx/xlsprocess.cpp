#include "xlsprocess.h"

#include "workbookstream.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace QXlsx {
namespace detail {

namespace {

// A damaged file that FreeXL loops on is given up after this long.
constexpr int TimeLimitMs = 120 * 1000;
// What the helper hands back for the largest workbook it reads.
constexpr qint64 MaxStreamBytes = 1024 * 1024 * 1024;

// Beside the program, where it is installed, or where it was built.
QString helperPath()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        candidates << dir + QStringLiteral(KESTROVA_XLS_HELPER_NAME)
                   << dir + QStringLiteral(KESTROVA_XLS_HELPER_FROM_BIN "/" KESTROVA_XLS_HELPER_NAME);
    }
    candidates << QStringLiteral(KESTROVA_XLS_HELPER_BUILT);
    for (const QString &path : qAsConst(candidates)) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return QString();
}

} // namespace

std::unique_ptr<Workbook> readXlsApart(const QString &path)
{
    const QString helper = helperPath();
    if (helper.isEmpty()) {
        qWarning("%s is missing: .xls files cannot be read", KESTROVA_XLS_HELPER_NAME);
        return nullptr;
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        return nullptr;
    const QString sheets = dir.filePath(QStringLiteral("sheets"));

    QProcess reader;
    reader.setStandardInputFile(QProcess::nullDevice());
    reader.setStandardOutputFile(QProcess::nullDevice());
    reader.setStandardErrorFile(QProcess::nullDevice());
    reader.start(helper, {path, sheets});
    if (!reader.waitForStarted())
        return nullptr;
    if (!reader.waitForFinished(TimeLimitMs)) {
        reader.kill();
        reader.waitForFinished();
        return nullptr;
    }
    if (reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0)
        return nullptr;

    QFile file(sheets);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxStreamBytes)
        return nullptr;
    return readSheets(&file);
}

} // namespace detail
} // namespace QXlsx
