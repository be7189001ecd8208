#include "files/replacefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif
#endif

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

#include <algorithm>
#include <cstring>
#include <vector>

namespace files {

namespace {

bool fail(ReplaceError *error, ReplaceError::Kind kind, const QString &detail = QString())
{
    error->kind = kind;
    error->detail = detail;
    return false;
}

// Where a write to path lands: symbolic links followed, as opening would.
QString linkTarget(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 32 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.filePath();
}

const QString temporaryPrefix = QStringLiteral(".kestrova-");

QString temporaryName(const QString &folder)
{
    return folder + QLatin1Char('/') + temporaryPrefix
        + QString::number(QRandomGenerator::global()->generate(), 16) + QStringLiteral(".tmp");
}

#ifdef Q_OS_UNIX

QString systemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes and tells whether the close reported no error.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Opens path without blocking (a pipe there must not hang the program) or
// following a link, and checks that it is a regular file.
bool openRegular(const QString &path, int flags, Fd *fd, struct stat *st, ReplaceError *error)
{
    fd->reset(::open(QFile::encodeName(path).constData(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (fd->get() < 0) {
        const int code = errno;
        const bool special = code == ENXIO || code == ELOOP || code == EISDIR;
        return fail(error, special ? ReplaceError::NotRegularFile : ReplaceError::CannotWrite, systemReason(code));
    }
    if (::fstat(fd->get(), st) != 0)
        return fail(error, ReplaceError::CannotWrite, systemReason(errno));
    if (!S_ISREG(st->st_mode))
        return fail(error, ReplaceError::NotRegularFile);
    return true;
}

bool writeAll(int fd, const QByteArray &bytes, ReplaceError *error)
{
    const char *p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(std::min<qint64>(left, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(error, ReplaceError::CannotWrite, systemReason(n < 0 ? errno : ENOSPC));
        p += n;
        left -= n;
    }
    return true;
}

// Whether the file now at path holds exactly expected: opened afresh, since
// another program may have put a new file there.
bool holds(const QString &path, const QByteArray &expected)
{
    Fd file;
    struct stat st;
    ReplaceError ignored;
    if (!openRegular(path, O_RDONLY, &file, &st, &ignored) || st.st_size != expected.size())
        return false;
    const int fd = file.get();
    std::vector<char> chunk(1 << 20);
    qint64 at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return at == expected.size();
        if (at + n > expected.size() || std::memcmp(chunk.data(), expected.constData() + at, size_t(n)) != 0)
            return false;
        at += n;
    }
}

#ifdef Q_OS_LINUX
constexpr char AclXattr[] = "system.posix_acl_access";

// The owning group's permissions in an access list stored as an extended
// attribute (a version, then entries of tag, permissions and id); -1 if none.
int aclGroupPermissions(const QByteArray &acl)
{
    constexpr int header = 4, entry = 8;
    constexpr quint16 groupObject = 0x04;
    for (int at = header; at + entry <= acl.size(); at += entry) {
        quint16 tag, perm;
        std::memcpy(&tag, acl.constData() + at, 2);
        std::memcpy(&perm, acl.constData() + at + 2, 2);
        if (tag == groupObject)
            return perm & 7;
    }
    return -1;
}

QByteArray getXattr(int fd, const char *name)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0)
            return QByteArray();
        QByteArray value(int(size), Qt::Uninitialized);
        const ssize_t got = ::fgetxattr(fd, name, value.data(), size_t(size));
        if (got >= 0) {
            value.resize(int(got));
            return value;
        }
        if (errno != ERANGE)
            return QByteArray();
    }
    return QByteArray();
}

// Copies the extended attributes of from onto to, the access list among them;
// false when the access list could not be copied. A temporary file may have
// taken a default access list from its folder: it goes unless from had one.
bool copyXattrs(int from, int to)
{
    bool aclCopied = true;
    bool hadAcl = false;
    std::vector<char> names;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::flistxattr(from, nullptr, 0);
        if (size <= 0)
            break;
        names.resize(size_t(size));
        const ssize_t got = ::flistxattr(from, names.data(), names.size());
        if (got >= 0) {
            names.resize(size_t(got));
            break;
        }
        names.clear();
    }
    for (size_t at = 0; at < names.size();) {
        const char *name = names.data() + at;
        const size_t length = ::strnlen(name, names.size() - at);
        at += length + 1;
        const bool acl = std::strcmp(name, AclXattr) == 0;
        hadAcl = hadAcl || acl;
        const QByteArray value = getXattr(from, name);
        const bool copied = ::fsetxattr(to, name, value.constData(), size_t(value.size()), 0) == 0;
        if (acl && !copied)
            aclCopied = false;
    }
    if (!hadAcl)
        ::fremovexattr(to, AclXattr);
    return aclCopied;
}
#endif

// Gives the new file the old one's owner and group as far as this user may
// (root both, anyone else the group if a member of it), its mode, extended
// attributes and access list. A change of owner clears the set-id bits; they
// come back when both were kept. Where the access list cannot be carried
// over, the owning group keeps only its own permissions, not the list's mask.
void keepOwnership(int oldFd, const struct stat &old, int fd)
{
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)::fchown(fd, uid_t(-1), old.st_gid);
    mode_t mode = old.st_mode & 07777;
    struct stat now;
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid))
        mode &= ~mode_t(S_ISUID | S_ISGID);
    (void)::fchmod(fd, mode);
#ifdef Q_OS_LINUX
    if (!copyXattrs(oldFd, fd)) {
        const int group = aclGroupPermissions(getXattr(oldFd, AclXattr));
        if (group >= 0)
            (void)::fchmod(fd, (mode & ~mode_t(S_IRWXG)) | mode_t(group << 3));
    }
#else
    Q_UNUSED(oldFd);
#endif
}

// Creates a temporary file of a fresh name in folder.
bool createTemporary(const QString &folder, mode_t mode, Fd *fd, QByteArray *name, ReplaceError *error)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        *name = QFile::encodeName(temporaryName(folder));
        fd->reset(::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd->get() >= 0)
            return true;
        if (errno != EEXIST)
            return fail(error, ReplaceError::CannotWrite, systemReason(errno));
    }
    return fail(error, ReplaceError::CannotWrite, systemReason(EEXIST));
}

bool replace(const QString &target, const QByteArray &bytes, const ReplaceOptions &options, ReplaceError *error)
{
    struct stat entry;
    const QByteArray targetName = QFile::encodeName(target);
    const bool exists = ::lstat(targetName.constData(), &entry) == 0;
    // A link left there (not followed) is replaced like any name; anything
    // else must be a regular file this user may write, since a rename would
    // replace even a file that may not be written to.
    const bool replacing = exists && !S_ISLNK(entry.st_mode);
    Fd old;
    struct stat oldStat {};
    if (replacing && !openRegular(target, O_WRONLY, &old, &oldStat, error))
        return false;
    if (options.expected && (!replacing || !holds(target, *options.expected)))
        return fail(error, ReplaceError::Changed);

    const QString folder = QFileInfo(target).path();
    QByteArray temporary;
    Fd fd;
    // A file that takes the old one's metadata is private until it has it.
    if (!createTemporary(folder, options.keepOwnership && replacing ? 0600 : 0666, &fd, &temporary, error))
        return false;
    bool ok = writeAll(fd.get(), bytes, error);
    if (ok && options.sync && ::fsync(fd.get()) != 0)
        ok = fail(error, ReplaceError::CannotWrite, systemReason(errno));
    if (ok && replacing) {
        if (options.keepOwnership)
            keepOwnership(old.get(), oldStat, fd.get());
        else
            (void)::fchmod(fd.get(), oldStat.st_mode & 0777);
    }
    if (ok && !fd.close())
        ok = fail(error, ReplaceError::CannotWrite, systemReason(errno));
    // Checked once more just before the rename: another program may have
    // saved the file while this one was being written.
    if (ok && options.expected && !holds(target, *options.expected))
        ok = fail(error, ReplaceError::Changed);
    if (ok && ::rename(temporary.constData(), targetName.constData()) != 0)
        ok = fail(error, errno == EISDIR ? ReplaceError::NotRegularFile : ReplaceError::CannotWrite,
                  systemReason(errno));
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    if (options.sync) {
        const Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0)
            (void)::fsync(dir.get());
    }
    return true;
}

#else

QString systemReason(DWORD code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString reason = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return reason;
}

bool holds(const QString &path, const QByteArray &expected)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != expected.size())
        return false;
    qint64 at = 0;
    while (at < expected.size()) {
        const QByteArray chunk = file.read(1 << 20);
        if (chunk.isEmpty() || at + chunk.size() > expected.size()
            || std::memcmp(chunk.constData(), expected.constData() + at, size_t(chunk.size())) != 0)
            return false;
        at += chunk.size();
    }
    return true;
}

// ReplaceFileW keeps the old file's attributes and access list; a plain move
// keeps the new file's own.
bool replace(const QString &target, const QByteArray &bytes, const ReplaceOptions &options, ReplaceError *error)
{
    const QFileInfo info(target);
    const bool link = !options.followLinks && info.isSymLink();
    const bool replacing = info.exists() && !link;
    if (replacing) {
        if (!info.isFile())
            return fail(error, ReplaceError::NotRegularFile);
        QFile probe(target);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append))
            return fail(error, ReplaceError::CannotWrite, probe.errorString());
    }
    if (options.expected && (!replacing || !holds(target, *options.expected)))
        return fail(error, ReplaceError::Changed);

    QFile file;
    for (int attempt = 0; attempt < 8 && !file.isOpen(); ++attempt) {
        file.setFileName(temporaryName(info.path()));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered) && !file.exists())
            return fail(error, ReplaceError::CannotWrite, file.errorString());
    }
    if (!file.isOpen())
        return fail(error, ReplaceError::CannotWrite, systemReason(ERROR_FILE_EXISTS));
    bool ok = file.write(bytes) == bytes.size() || fail(error, ReplaceError::CannotWrite, file.errorString());
    if (ok && options.sync && !FlushFileBuffers(HANDLE(_get_osfhandle(file.handle()))))
        ok = fail(error, ReplaceError::CannotWrite, systemReason(GetLastError()));
    file.close();
    if (ok && file.error() != QFileDevice::NoError)
        ok = fail(error, ReplaceError::CannotWrite, file.errorString());
    if (ok && options.expected && !holds(target, *options.expected))
        ok = fail(error, ReplaceError::Changed);
    const std::wstring from = QFileInfo(file.fileName()).absoluteFilePath().toStdWString();
    const std::wstring to = info.absoluteFilePath().toStdWString();
    if (ok) {
        const DWORD through = options.sync ? MOVEFILE_WRITE_THROUGH : 0;
        const BOOL moved = replacing && options.keepOwnership
            ? ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | through);
        if (!moved)
            ok = fail(error, ReplaceError::CannotWrite, systemReason(GetLastError()));
    }
    if (!ok)
        file.remove();
    return ok;
}

#endif

} // namespace

bool replaceFile(const QString &path, const QByteArray &bytes, const ReplaceOptions &options, ReplaceError *error)
{
    ReplaceError ignored;
    if (!error)
        error = &ignored;
    *error = ReplaceError();
    const QString target = options.followLinks ? linkTarget(path) : path;
    return replace(target, bytes, options, error);
}

int removeStaleTemporaries(const QString &folder)
{
    // This program's temporary names, and those of the versions before.
    static const QRegularExpression ours(QStringLiteral("^\\.(kestrova|qr)-[0-9a-f]{1,8}\\.tmp$"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QDir dir(folder);
    int removed = 0;
    const QFileInfoList found = dir.entryInfoList({QStringLiteral(".kestrova-*.tmp"), QStringLiteral(".qr-*.tmp")},
                                                  QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo &file : found) {
        if (ours.match(file.fileName()).hasMatch() && file.lastModified().toUTC() < before
            && QFile::remove(file.filePath()))
            ++removed;
    }
    return removed;
}

} // namespace files
