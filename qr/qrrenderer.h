#pragma once

#include <QImage>
#include <QString>

namespace qr {

constexpr int imageSize = 200;

// Encodes text as UTF-8 and draws the symbol into a
// 200 x 200 RGB32 image: s x s black modules from (0, 0), s = 200 / width,
// no quiet zone, white elsewhere. A null image when the encoder refuses, or
// when text holds a NUL (the encoder would end the code there).
QImage renderImage(const QString &text);

// What became of one image file.
enum class ImageStatus { Written, EmptyText, HasNul, TooLong, NotSaved };
struct ImageResult
{
    ImageStatus status;
    QString error;  // NotSaved: the system's reason, when there is one
};

// Renders text as a QR code and saves it as PNG at filePath; a file already
// there is replaced only by a complete one, a link there by the file itself
// (its target is left alone). A failure writes the debug line
// "Failed to generate QR code." or "Failed to save QR code image.".
ImageResult writeImage(const QString &text, const QString &filePath);

} // namespace qr
