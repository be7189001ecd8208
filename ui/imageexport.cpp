#include "ui/kestrova.h"

#include "ui/boxes.h"
#include "ui/startfolder.h"

#include "qr/imagefile.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QImage>

void Kestrova::savePngtoPath()
{
    const QString startPath = dialogStartFolder() + QStringLiteral("/QRCode.png");
    const QString target = QFileDialog::getSaveFileName(this, QStringLiteral("保存文件"), startPath,
                                                        QStringLiteral("(*.png);;(*.jpg);;All Files (*)"));
    if (target.isEmpty()) {
        showWarning(this, QStringLiteral("保存文件路径为空"));
        return;
    }
    const QImage picture(previewFile);
    if (picture.isNull()) {
        showWarning(this, QStringLiteral("二维码图片生成失败"));
        return;
    }
    // The format follows the name's suffix, as QImage::save(fileName) picks it;
    // the file is replaced only by a complete one. The user chose the name, so
    // a link there has its target written.
    const QByteArray format = QFileInfo(target).suffix().toLower().toLatin1();
    QString error;
    if (format.isEmpty() || !qr::saveImageFile(picture, target, format.constData(), -1, true, &error)) {
        showWarning(this, QStringLiteral("二维码图片另存失败"));
        return;
    }
    offerToOpen(this, QStringLiteral("二维码图片另存成功"), QStringLiteral("打开图片"), target);
}
