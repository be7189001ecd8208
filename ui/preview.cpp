#include "ui/kestrova.h"

#include <QImageReader>
#include <QMessageBox>
#include <QPixmap>

void Kestrova::createBtnClicked()
{
    if (generateQrCodeImage(ui.textEdit->toPlainText(), previewFile))
        showLogicImage(previewFile);
    else
        QMessageBox::information(this, QStringLiteral("提示"), QStringLiteral("Failed to generate QR code."),
                                 QMessageBox::Ok, QMessageBox::NoButton);
}

void Kestrova::showLogicImage(QString path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return;
    const QImage picture = reader.read();
    if (picture.isNull())
        return;
    ui.image->setScaledContents(true);
    ui.image->setPixmap(QPixmap::fromImage(picture));
}
