#pragma once

#include "ui/ui_kestrova.h"

#include <QString>
#include <QWidget>

namespace QXlsx {
class Document;
}

// The preview's file, in the current folder; the export copies it.
inline const QString previewFile = QStringLiteral("qrcode.png");

class Kestrova : public QWidget
{
    Q_OBJECT

public:
    explicit Kestrova(QWidget *parent = nullptr);
    // Drops every connection from the window before its children go, so
    // that nothing hears of its destruction.
    ~Kestrova() override;

    // The program's named members. The work behind most of them lives below
    // the window (qr/, batch/); these stay as its interface, thin forwards
    // where the job is not the window's own. Keep them all.
    //
    // Renders text as a 200 x 200 QR code PNG at filePath; false if it could not.
    bool generateQrCodeImage(const QString &text, const QString &filePath);
    // The batch behind the workbook button: asks for a workbook, runs the
    // batch engine with a progress dialog and tells the outcome in boxes.
    void createFromExcel();
    // Sheet steps: one image per record of the selected sheet, under dir.
    void createDeviceCodes(QString dir, QXlsx::Document &xlsx);
    void createBoardCodes(QString dir, QXlsx::Document &xlsx);
    void ensureDirExists(QString path);

public slots:
    QString getTextStr();
    void createBtnClicked();
    void showLogicImage(QString path);
    void savePngtoPath();

private:
    Ui_Kestrova ui;
};
