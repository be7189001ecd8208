#include "core/regularfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace QXlsx {
namespace detail {

bool openRegularFile(QFile *file, ReadError *error)
{
    const QFileInfo info(*file);
    if (!info.exists()) {
        setReadError(error, ReadError::at(ReadError::NotFound));
        return false;
    }
    if (!info.isFile()) {
        setReadError(error, ReadError::at(ReadError::NotRegularFile));
        return false;
    }
#ifdef Q_OS_UNIX
    // Opened without blocking and checked on the open descriptor, so that a
    // pipe put there after the check above cannot hang the program.
    const int fd = ::open(QFile::encodeName(file->fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ReadError e = ReadError::at(fd < 0 && errno != ENXIO ? ReadError::CannotOpen : ReadError::NotRegularFile);
        if (e.kind == ReadError::CannotOpen)
            e.detail = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        setReadError(error, e);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setReadError(error, ReadError::at(ReadError::CannotOpen));
        return false;
    }
    return true;
#else
    if (!file->open(QIODevice::ReadOnly)) {
        ReadError e = ReadError::at(ReadError::CannotOpen);
        e.detail = file->errorString();
        setReadError(error, e);
        return false;
    }
    return true;
#endif
}

} // namespace detail
} // namespace QXlsx
