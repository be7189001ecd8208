#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

// The main window's widget tree. The pointers do not own: every object
// belongs to the window passed to setupUi.
class Ui_Kestrova
{
public:
    QVBoxLayout *verticalLayout;
    QWidget *widget;
    QHBoxLayout *horizontalLayout;
    QLabel *image;
    QWidget *widget_2;
    QHBoxLayout *horizontalLayout_2;
    QTextEdit *textEdit;
    QWidget *widget_3;
    QVBoxLayout *verticalLayout_2;
    QPushButton *excelBtn;
    QPushButton *pngBtn;

    void setupUi(QWidget *Kestrova);
};
