#include "ui/kestrova.h"

#include "qr/imagefile.h"
#include "ui/startfolder.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QUrl>

void Kestrova::savePngtoPath()
{
    const QString startPath = dialogStartFolder() + QStringLiteral("/QRCode.png");
    const QString target = QFileDialog::getSaveFileName(this, QStringLiteral("保存文件"), startPath,
                                                        QStringLiteral("(*.png);;(*.jpg);;All Files (*)"));
    const auto warn = [this](const QString &text) {
        QMessageBox::warning(this, QStringLiteral("警告"), text, QMessageBox::Ok, QMessageBox::NoButton);
    };
    if (target.isEmpty()) {
        warn(QStringLiteral("保存文件路径为空"));
        return;
    }
    const QImage picture(QStringLiteral("qrcode.png"));
    if (picture.isNull()) {
        warn(QStringLiteral("二维码图片生成失败"));
        return;
    }
    // The format follows the name's suffix, as QImage::save(fileName) picks it;
    // the file is replaced only by a complete one.
    const QByteArray format = QFileInfo(target).suffix().toLower().toLatin1();
    QString error;
    if (format.isEmpty() || !qr::saveImageFile(picture, target, format.constData(), -1, &error)) {
        warn(QStringLiteral("二维码图片另存失败"));
        return;
    }
    const int answer = QMessageBox::information(this, QStringLiteral("提示"), QStringLiteral("二维码图片另存成功"),
                                                QStringLiteral("打开图片"), QStringLiteral("取消"), QString(), 0, -1);
    if (answer == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(target));
}
