#pragma once

#include <QString>

#include <vector>

// While alive, the process runs with the effective user and group "nobody"
// when it was started as root, so that file permissions apply to it. Its
// supplementary groups are then only the given ones. Never active where
// files have no POSIX permissions (Windows).
class Unprivileged
{
public:
    explicit Unprivileged(const std::vector<unsigned> &groups = {});
    ~Unprivileged();
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

    bool active() const { return m_active; }

private:
    bool m_active = false;
    bool m_switched = false;
    std::vector<unsigned> m_savedGroups;
};

// Lets any user enter and write the folder (for use with Unprivileged).
void makeWorldAccessible(const QString &path);
