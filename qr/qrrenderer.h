#pragma once

#include <QImage>
#include <QString>

namespace qr {

constexpr int imageSize = 200;

// Encodes text (as UTF-8, up to its first NUL) and draws the symbol into a
// 200 x 200 RGB32 image: s x s black modules from (0, 0), s = 200 / width,
// no quiet zone, white elsewhere. A null image when the encoder refuses.
QImage renderImage(const QString &text);

} // namespace qr
