#include "qr/qrrenderer.h"

#include "ui/kestrova.h"

#include <QDebug>

#include <qrencode.h>

#include <algorithm>
#include <cstring>

namespace qr {

namespace {

constexpr QRgb dark = 0xff000000;

void drawSymbol(const QRcode &code, QImage &image)
{
    const int width = code.width;
    const int scale = std::max(1, imageSize / width);
    const int covered = std::min(width * scale, imageSize);
    const int modulesDrawn = (covered + scale - 1) / scale;
    const size_t rowBytes = size_t(covered) * sizeof(QRgb);

    for (int y = 0; y < modulesDrawn; ++y) {
        const int top = y * scale;
        const int rows = std::min(scale, imageSize - top);
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(top));
        const unsigned char *modules = code.data + size_t(y) * width;
        for (int x = 0; x < modulesDrawn; ++x) {
            if (modules[x] & 1) {
                QRgb *px = line + x * scale;
                std::fill(px, px + std::min(scale, covered - x * scale), dark);
            }
        }
        for (int j = 1; j < rows; ++j)
            std::memcpy(image.scanLine(top + j), line, rowBytes);
    }
}

} // namespace

QImage renderImage(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QRcode *code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
    if (!code)
        return QImage();

    QImage image(imageSize, imageSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    drawSymbol(*code, image);
    QRcode_free(code);
    return image;
}

} // namespace qr

bool Kestrova::generateQrCodeImage(const QString &text, const QString &filePath)
{
    const QImage image = qr::renderImage(text);
    if (image.isNull()) {
        qDebug() << "Failed to generate QR code.";
        return false;
    }
    if (!image.save(filePath, "PNG", -1)) {
        qDebug() << "Failed to save QR code image.";
        return false;
    }
    return true;
}
