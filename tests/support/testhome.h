#pragma once

#include <QString>
#include <QTemporaryDir>

// A home folder of the test's own with a Desktop folder in it, where the
// program's file dialogs then start. Windows takes the account's desktop
// whatever HOME says: there desktop() is that folder and the home folder
// cannot be moved (canMove() is false).
class TestHome
{
public:
    TestHome();
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString desktop() const { return m_desktop; }
    static bool canMove();

private:
    QTemporaryDir m_dir;
    QString m_desktop;
};
