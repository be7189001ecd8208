#include "qr/qrrenderer.h"

#include "qr/imagefile.h"

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
// The resolution the PNG states (96 dpi). Left to Qt it follows the screen,
// or 100 dpi where there is none, so the same text would give other bytes
// in the window, on another display and on the command line.
constexpr int dotsPerMeter = 3780;

void setResolution(QImage *image)
{
    image->setDotsPerMeterX(dotsPerMeter);
    image->setDotsPerMeterY(dotsPerMeter);
}

struct CodeFree
{
    void operator()(QRcode *code) const { QRcode_free(code); }
};
using Code = std::unique_ptr<QRcode, CodeFree>;

// The most characters any symbol holds: version 40 at level L, all digits
// (8-bit data stops at 2,953 bytes, but digits and capitals pack tighter,
// which the encoder decides).
constexpr int maxBytes = 7089;

// Whether the UTF-8 form of text may fit; counted without converting, so a
// huge text costs nothing.
bool mayFit(const QString &text)
{
    int bytes = 0;
    for (int i = 0; i < text.size() && bytes <= maxBytes; ++i) {
        const ushort c = text.at(i).unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            bytes += 4, ++i;
        else if (QChar::isSurrogate(c))
            bytes += 1; // a lone surrogate becomes '?'
        else
            bytes += 3;
    }
    return bytes <= maxBytes;
}

Code encode(const QString &text)
{
    // The encoder's cost grows with its input far beyond what it can hold,
    // and it would stop at a NUL, cutting the code short.
    if (!mayFit(text) || text.contains(QChar(0)))
        return nullptr;
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
    setResolution(&image);
    return image;
}

ImageResult writeImage(const QString &text, const QString &filePath)
{
    Code code = encode(text);
    if (!code) {
        qDebug() << "Failed to generate QR code.";
        const ImageStatus status = text.isEmpty() ? ImageStatus::EmptyText
            : text.contains(QChar(0))             ? ImageStatus::HasNul
                                                  : ImageStatus::TooLong;
        return {status, QString()};
    }
    // Drawn on the stack: a 160 kB heap block per image goes back to the
    // system on free and page-faults in again for the next one.
    alignas(16) uchar bits[imageSize * lineBytes];
    drawSymbol(*code, bits, lineBytes);
    code.reset();
    // Over the buffer itself (not a read-only one), so that setting the
    // resolution does not copy it.
    QImage image(bits, imageSize, imageSize, lineBytes, QImage::Format_RGB32);
    setResolution(&image);
    QString error;
    // A link at filePath is replaced, never written through.
    if (!saveImageFile(image, filePath, "PNG", -1, false, &error)) {
        qDebug() << "Failed to save QR code image.";
        return {ImageStatus::NotSaved, error};
    }
    return {ImageStatus::Written, QString()};
}

} // namespace qr
