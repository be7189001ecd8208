#pragma once

#include <QString>

// While alive, the process runs with the effective user and group "nobody"
// when it was started as root, so that file permissions apply to it.
class Unprivileged
{
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

    bool active() const { return m_active; }

private:
    bool m_active = false;
    bool m_switched = false;
};

// Lets any user enter and write the folder (for use with Unprivileged).
void makeWorldAccessible(const QString &path);
