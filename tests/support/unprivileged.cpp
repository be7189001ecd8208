#include "unprivileged.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <unistd.h>

namespace {
constexpr uid_t nobody = 65534;

bool setGroups(const std::vector<unsigned> &groups)
{
    const std::vector<gid_t> list(groups.begin(), groups.end());
    return setgroups(list.size(), list.data()) == 0;
}
} // namespace

Unprivileged::Unprivileged(const std::vector<unsigned> &groups)
{
    if (geteuid() != 0) {
        m_active = true;
        return;
    }
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> saved(size_t(count > 0 ? count : 0));
    if (count < 0 || getgroups(count, saved.data()) != count)
        return;
    m_savedGroups.assign(saved.begin(), saved.end());
    if (!setGroups(groups))
        return;
    if (setegid(nobody) != 0) {
        (void)setGroups(m_savedGroups);
        return;
    }
    if (seteuid(nobody) != 0) {
        (void)setegid(0);
        (void)setGroups(m_savedGroups);
        return;
    }
    m_active = m_switched = true;
}

Unprivileged::~Unprivileged()
{
    if (m_switched) {
        (void)seteuid(0);
        (void)setegid(0);
        (void)setGroups(m_savedGroups);
    }
}
#else
// Without POSIX permissions there is nothing to switch to: never active.
Unprivileged::Unprivileged(const std::vector<unsigned> &groups)
{
    Q_UNUSED(groups);
}

Unprivileged::~Unprivileged() = default;
#endif

void makeWorldAccessible(const QString &path)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}
