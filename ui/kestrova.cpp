#include "ui/kestrova.h"

#include "ui/filedialoglook.h"

#include "batch/sheetrecords.h"
#include "batch/sheetstep.h"
#include "qr/qrrenderer.h"

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

bool Kestrova::generateQrCodeImage(const QString &text, const QString &filePath)
{
    return qr::writeImage(text, filePath).status == qr::ImageStatus::Written;
}

void Kestrova::createDeviceCodes(QString dir, QXlsx::Document &xlsx)
{
    writeSheetCodes(dir, xlsx, SheetLayout::device);
}

void Kestrova::createBoardCodes(QString dir, QXlsx::Document &xlsx)
{
    writeSheetCodes(dir, xlsx, SheetLayout::board);
}

void Kestrova::ensureDirExists(QString path)
{
    ::ensureDirExists(path);
}

QString Kestrova::getTextStr()
{
    return ui.textEdit->toPlainText();
}
