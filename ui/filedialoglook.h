#pragma once

#include <QObject>

class QWidget;

// The file dialogs that Qt draws itself (where the desktop has none of its
// own) are children of the window and inherit its sheet, which was written
// for message boxes: their labels and buttons would be white on light grey.
// Each such dialog gets a sheet of its own in the window's colours as soon
// as it is polished; native dialogs are left alone.
class FileDialogLook : public QObject
{
public:
    // Looks after the file dialogs opened with window as their parent.
    static void watch(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};
