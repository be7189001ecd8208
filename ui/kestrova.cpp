#include "ui/kestrova.h"

#include "ui/filedialoglook.h"

Kestrova::Kestrova(QWidget *parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    connect(ui.excelBtn, &QPushButton::clicked, this, &Kestrova::createFromExcel);
    connect(ui.pngBtn, &QPushButton::clicked, this, &Kestrova::savePngtoPath);
    connect(ui.textEdit, &QTextEdit::textChanged, this, &Kestrova::createBtnClicked);
    FileDialogLook::watch(this);
}

Kestrova::~Kestrova()
{
    disconnect();
}

QString Kestrova::getTextStr()
{
    return ui.textEdit->toPlainText();
}

void Kestrova::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
}

void Kestrova::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
}
