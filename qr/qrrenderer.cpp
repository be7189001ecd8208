#include "qr/qrrenderer.h"

#include "ui/kestrova.h"

#include <QDebug>

#include <qrencode.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qr {

namespace {

constexpr QRgb dark = 0xff000000;
constexpr QRgb light = 0xffffffff;
constexpr int lineBytes = imageSize * int(sizeof(QRgb));

struct CodeFree
{
    void operator()(QRcode *code) const { QRcode_free(code); }
};
using Code = std::unique_ptr<QRcode, CodeFree>;

Code encode(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Code(QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_L, QR_MODE_8, 1));
}

// Writes each pixel once: a module row is built in its first scan line and
// copied down, the rows below the symbol are filled white.
void drawSymbol(const QRcode &code, uchar *bits, qsizetype bytesPerLine)
{
    const int width = code.width;
    const int scale = std::max(1, imageSize / width);
    const int covered = std::min(width * scale, imageSize);
    const int modulesDrawn = (covered + scale - 1) / scale;

    int top = 0;
    for (int y = 0; y < modulesDrawn; ++y) {
        const int rows = std::min(scale, imageSize - top);
        auto *line = reinterpret_cast<QRgb *>(bits + top * bytesPerLine);
        const unsigned char *modules = code.data + size_t(y) * width;
        QRgb *px = line;
        for (int x = 0; x < modulesDrawn; ++x)
            px = std::fill_n(px, std::min(scale, covered - x * scale), (modules[x] & 1) ? dark : light);
        std::fill(px, line + imageSize, light);
        for (int j = 1; j < rows; ++j)
            std::memcpy(bits + (top + j) * bytesPerLine, line, lineBytes);
        top += rows;
    }
    for (; top < imageSize; ++top) {
        auto *line = reinterpret_cast<QRgb *>(bits + top * bytesPerLine);
        std::fill(line, line + imageSize, light);
    }
}

} // namespace

QImage renderImage(const QString &text)
{
    const Code code = encode(text);
    if (!code)
        return QImage();
    QImage image(imageSize, imageSize, QImage::Format_RGB32);
    if (!image.isNull())
        drawSymbol(*code, image.bits(), image.bytesPerLine());
    return image;
}

} // namespace qr

bool Kestrova::generateQrCodeImage(const QString &text, const QString &filePath)
{
    qr::Code code = qr::encode(text);
    if (!code) {
        qDebug() << "Failed to generate QR code.";
        return false;
    }
    // Drawn on the stack: a 160 kB heap block per image goes back to the
    // system on free and page-faults in again for the next one.
    alignas(16) uchar bits[qr::imageSize * qr::lineBytes];
    qr::drawSymbol(*code, bits, qr::lineBytes);
    code.reset();
    const QImage image(static_cast<const uchar *>(bits), qr::imageSize, qr::imageSize, qr::lineBytes,
                       QImage::Format_RGB32);
    if (!image.save(filePath, "PNG", -1)) {
        qDebug() << "Failed to save QR code image.";
        return false;
    }
    return true;
}
