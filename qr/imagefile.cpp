#include "qr/imagefile.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <system_error>

namespace qr {

namespace {

std::filesystem::path nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Where a write to path lands: symbolic links followed, as opening would.
QString writtenPath(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 32 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.filePath();
}

// Whether the file at path is a regular file this user may write. Opened
// without blocking, so that a pipe there cannot hang the program.
bool mayReplace(const QString &path, QString *error)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    const bool regular = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const int code = errno;
    if (fd >= 0)
        ::close(fd);
    if (regular)
        return true;
    *error = fd >= 0 || code == ENXIO ? QStringLiteral("不是普通文件") : QString::fromLocal8Bit(std::strerror(code));
    return false;
#else
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("不是普通文件");
        return false;
    }
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = probe.errorString();
        return false;
    }
    return true;
#endif
}

// Creates a file of a fresh name in folder; the name does not grow with the
// target's, so a name near the file system's limit fails only at the rename.
bool openTemporary(QFile *file, const QString &folder)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        file->setFileName(folder + QStringLiteral("/.qr-")
                          + QString::number(QRandomGenerator::global()->generate(), 16) + QStringLiteral(".tmp"));
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!file->exists())
            return false;
    }
    return false;
}

} // namespace

bool saveImageFile(const QImage &image, const QString &filePath, const char *format, int quality, QString *error)
{
    const QString target = writtenPath(filePath);
    const QFileInfo old(target);
    const bool replacing = old.exists();
    // A rename would replace even a file that may not be written to, or a pipe.
    if (replacing && !mayReplace(target, error))
        return false;

    QFile file;
    if (!openTemporary(&file, old.path())) {
        *error = file.errorString();
        return false;
    }
    bool ok = image.save(&file, format, quality) && file.flush();
    // close() forgets an error of an earlier write once its own flush succeeds.
    QString reason = file.error() != QFileDevice::NoError ? file.errorString() : QString();
    file.close();
    if (ok && file.error() != QFileDevice::NoError) {
        ok = false;
        reason = file.errorString();
    }
    std::error_code renamed;
    if (ok) {
        if (replacing)
            file.setPermissions(old.permissions());
        std::filesystem::rename(nativePath(file.fileName()), nativePath(target), renamed);
        if (renamed) {
            ok = false;
            reason = QString::fromLocal8Bit(renamed.message().c_str());
        }
    }
    if (!ok) {
        file.remove();
        *error = reason;
    }
    return ok;
}

} // namespace qr
