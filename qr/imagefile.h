#pragma once

#include <QString>

class QImage;

namespace qr {

// Saves image in format (with quality, as QImage::save) so that filePath
// holds either what it held before or the whole new file: the image goes
// into a temporary file beside it, every write, the flush and the close are
// checked, and only then is it renamed over filePath. A file that cannot be
// opened for writing is not replaced; an existing file's permissions carry
// over. Not synced to disk. On failure *error holds the system's reason
// where there is one.
bool saveImageFile(const QImage &image, const QString &filePath, const char *format, int quality,
                   QString *error);

} // namespace qr
