#pragma once

#include <QString>

class QWidget;

// The batch behind the workbook button: asks for a workbook, writes one image
// per record of its device and board sheets, saves an .xlsx back and tells
// the user how it went, in boxes over window.
class BatchRun
{
public:
    explicit BatchRun(QWidget *window) : m_window(window) {}
    void run();

private:
    void warn(const QString &text, const QString &details = QString()) const;

    QWidget *m_window;
};
