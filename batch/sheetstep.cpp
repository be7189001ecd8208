#include "batch/sheetstep.h"

#include "batch/filenames.h"
#include "batch/sheetrecords.h"
#include "files/replacefile.h"
#include "qr/qrrenderer.h"

#include "xlsxdocument.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace {

// How often the observer hears of progress: often enough for the eye.
constexpr qint64 updateEveryMs = 40;

BatchReport::Reason reasonOf(qr::ImageStatus status)
{
    switch (status) {
    case qr::ImageStatus::EmptyText:
        return BatchReport::Reason::EmptyText;
    case qr::ImageStatus::HasNul:
        return BatchReport::Reason::HasNul;
    case qr::ImageStatus::TooLong:
        return BatchReport::Reason::TextTooLong;
    case qr::ImageStatus::Written:
    case qr::ImageStatus::NotSaved:
        break;
    }
    return BatchReport::Reason::NotWritten;
}

// Why folder could not be made: asked of the system once more.
QString folderFailure(const QString &folder)
{
#ifdef Q_OS_WIN
    const std::filesystem::path path(folder.toStdWString());
#else
    const std::filesystem::path path(QFile::encodeName(folder).toStdString());
#endif
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        return QString::fromLocal8Bit(error.message().c_str());
    return QFileInfo(folder).exists() ? QStringLiteral("已有同名文件") : QString();
}

// Whether a sub-folder that key names inside folder is a symbolic link.
bool crossesLink(const QString &folder, const QString &key)
{
    for (int slash = key.indexOf(QLatin1Char('/')); slash >= 0; slash = key.indexOf(QLatin1Char('/'), slash + 1)) {
        if (QFileInfo(folder + QLatin1Char('/') + key.left(slash)).isSymLink())
            return true;
    }
    return false;
}

// Paths that name one file: "x", "./x" and ".//x"; on Windows also "X".
QString fileIdentity(const QString &filePath)
{
    const QString clean = QDir::cleanPath(filePath);
#ifdef Q_OS_WIN
    return clean.toCaseFolded();
#else
    return clean;
#endif
}

} // namespace

BatchState::BatchState(BatchObserver *observer, BatchResult *result)
    : m_observer(observer)
    , m_result(result)
{
    m_sinceUpdate.start();
}

void BatchState::startSheet(const QString &sheet)
{
    m_sheet = sheet;
    m_result->report.startSheet(sheet);
}

bool BatchState::stopRequested()
{
    if (!m_result->cancelled && m_observer && m_observer->stopRequested())
        m_result->cancelled = true;
    return m_result->cancelled;
}

void BatchState::recordDone(bool written)
{
    ++m_done;
    m_result->written += written;
    if (m_observer && (m_sinceUpdate.elapsed() >= updateEveryMs || m_done == m_result->records)) {
        m_observer->advanced(m_done, m_sheet);
        m_sinceUpdate.restart();
    }
}

void BatchState::imageWritten(const QString &filePath, int row, const QString &key)
{
    QVector<WrittenImage> &images = m_result->images;
    const QString identity = fileIdentity(filePath);
    const auto earlier = m_imageOfFile.constFind(identity);
    if (earlier != m_imageOfFile.cend()) {
        WrittenImage &replaced = images[earlier.value()];
        m_result->report.addOverwritten(replaced.sheet, replaced.row, row);
        replaced.file.clear();
    }
    m_imageOfFile.insert(identity, images.size());
    images.append({m_sheet, row, key, filePath});
}

void ensureDirExists(const QString &path)
{
    QDir dir;
    if (!dir.exists(path))
        dir.mkpath(path);
}

void writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout, BatchState *state)
{
    const QString folder = dir + QString::fromUtf8(layout.folder);
    ensureDirExists(folder);
    SheetNotes notes;
    const CodeMap codes = readSheetRecords(xlsx, layout, &notes);
    BatchReport *report = state ? &state->result().report : nullptr;
    const bool folderMade = QFileInfo(folder).isDir();
    if (report) {
        report->addRecords(codes.size());
        report->addNotes(notes);
        for (const SheetNotes::RepeatedKey &repeated : notes.repeatedKeys)
            report->addOverwritten(state->sheet(), repeated.row, notes.rowOfKey.value(repeated.key));
        if (folderMade)
            files::removeStaleTemporaries(folder);
        else if (!codes.isEmpty())
            report->addFolderFailure(QFileInfo(folder).fileName(), folderFailure(folder), codes.size());
    }
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        if (state && state->stopRequested())
            return;
        const QString &key = it.key();
        const QString fileName = key + QStringLiteral(".png");
        const QString filePath = folder + QLatin1Char('/') + fileName;
        qr::ImageResult result{qr::ImageStatus::NotSaved, QString()};
        BatchReport::Reason reason = BatchReport::Reason::NotWritten;
        // An empty key would name a hidden ".png" that the next such row overwrites.
        if (!key.isEmpty() && folderMade) {
            if (!usableAsFileName(key)) {
                reason = BatchReport::Reason::NotAFileName;
            } else if (crossesLink(folder, key)) {
                reason = BatchReport::Reason::ThroughLink;
            } else {
                result = qr::writeImage(it.value(), filePath);
                reason = reasonOf(result.status);
            }
        }
        const bool written = result.status == qr::ImageStatus::Written;
        if (written && state) {
            state->imageWritten(filePath, notes.rowOfKey.value(key), key);
        } else if (!written) {
            qDebug() << QStringLiteral("%1 %2 二维码生成失败").arg(filePath, it.value());
            // A folder that was not made has been told once for all its records.
            if (report && folderMade) {
                if (key.isEmpty())
                    report->addEmptyNames(notes.emptyKeyRows);
                else
                    report->addFailure(fileName, reason, result.error);
            }
        }
        if (state)
            state->recordDone(written);
    }
}
