#pragma once

#include "ui/ui_kestrova.h"

#include <QString>
#include <QWidget>

namespace QXlsx {
class Document;
}
class BatchFailures;
class BatchProgress;
struct SheetLayout;

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
    // Sheet steps: write one image per record of the selected sheet under dir;
    // the records not written go into failures.
    void createDeviceCodes(QString dir, QXlsx::Document &xlsx, BatchProgress *progress = nullptr,
                           BatchFailures *failures = nullptr);
    void createBoardCodes(QString dir, QXlsx::Document &xlsx, BatchProgress *progress = nullptr,
                          BatchFailures *failures = nullptr);
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
    void writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout,
                         BatchProgress *progress, BatchFailures *failures);

    Ui_Kestrova ui;
};
