#pragma once

#include <QString>

class QImage;

namespace qr {

// Saves image in format (with quality, as QImage::save) so that filePath
// holds either what it held before or the whole new file (files/replacefile.h),
// not synced to disk. followLinks: a symbolic link at filePath has its target
// written, else the link itself is replaced. On failure *error holds the
// system's reason where there is one.
bool saveImageFile(const QImage &image, const QString &filePath, const char *format, int quality, bool followLinks,
                   QString *error);

} // namespace qr
