#include "xlsxsavetarget.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace QXlsx {
namespace detail {

namespace {

// Gives the file open on handle the owner and group of the file at path, as far
// as this user may: root both, anyone else the group if they are a member of it.
// A change of owner clears the set-id bits; they come back when both were kept.
void keepOwnership(const QString &path, int handle)
{
#ifdef Q_OS_UNIX
    struct stat old;
    if (handle < 0 || ::stat(QFile::encodeName(path).constData(), &old) != 0)
        return;
    if (::fchown(handle, old.st_uid, old.st_gid) == 0) {
        (void)::fchmod(handle, old.st_mode & 07777);
        return;
    }
    (void)::fchown(handle, uid_t(-1), old.st_gid);
#else
    Q_UNUSED(path);
    Q_UNUSED(handle);
#endif
}

} // namespace

bool writeOver(const QString &path, const QByteArray &bytes)
{
    // QSaveFile renames over the target, which would replace even a read-only file.
    const QFileInfo target(path);
    if (target.exists()) {
        QFile probe(path);
        if (target.isDir() || !probe.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    keepOwnership(path, file.handle());
    return file.commit();
}

} // namespace detail
} // namespace QXlsx
