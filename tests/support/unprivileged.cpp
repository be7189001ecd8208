#include "unprivileged.h"

#include <QFile>

#include <unistd.h>

namespace {
constexpr uid_t nobody = 65534;
}

Unprivileged::Unprivileged()
{
    if (geteuid() != 0) {
        m_active = true;
        return;
    }
    if (setegid(nobody) != 0)
        return;
    if (seteuid(nobody) != 0) {
        (void)setegid(0);
        return;
    }
    m_active = m_switched = true;
}

Unprivileged::~Unprivileged()
{
    if (m_switched) {
        (void)seteuid(0);
        (void)setegid(0);
    }
}

void makeWorldAccessible(const QString &path)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}
