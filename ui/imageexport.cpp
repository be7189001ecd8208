#include "ui/kestrova.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

void Kestrova::savePngtoPath()
{
    const QString startPath = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + "/QRCode.png";
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
    if (!picture.save(target, nullptr, -1)) {
        warn(QStringLiteral("二维码图片另存失败"));
        return;
    }
    const int answer = QMessageBox::information(this, QStringLiteral("提示"), QStringLiteral("二维码图片另存成功"),
                                                QStringLiteral("打开图片"), QStringLiteral("取消"), QString(), 0, -1);
    if (answer == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(target));
}
