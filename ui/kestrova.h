#pragma once

#include "ui/ui_kestrova.h"

#include <QString>
#include <QWidget>

namespace QXlsx {
class Document;
}

class Kestrova : public QWidget
{
    Q_OBJECT

public:
    explicit Kestrova(QWidget *parent = nullptr);
    ~Kestrova() override;

    // Renders text as a 200 x 200 QR code PNG at filePath; false if it could not.
    bool generateQrCodeImage(const QString &text, const QString &filePath);

    // Batch run behind the workbook button.
    void createFromExcel();
    // Sheet steps: write one image per record of the selected sheet under dir.
    void createDeviceCodes(QString dir, QXlsx::Document &xlsx);
    void createBoardCodes(QString dir, QXlsx::Document &xlsx);
    void ensureDirExists(QString path);

public slots:
    QString getTextStr();
    void createBtnClicked();
    void showLogicImage(QString path);
    void savePngtoPath();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    Ui_Kestrova ui;
};
