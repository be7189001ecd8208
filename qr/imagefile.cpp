#include "qr/imagefile.h"

#include "files/replacefile.h"

#include <QBuffer>
#include <QImage>

namespace qr {

bool saveImageFile(const QImage &image, const QString &filePath, const char *format, int quality, bool followLinks,
                   QString *error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality)) {
        *error = QString();
        return false;
    }
    files::ReplaceOptions options;
    options.followLinks = followLinks;
    files::ReplaceError failure;
    if (files::replaceFile(filePath, bytes, options, &failure))
        return true;
    *error = failure.kind == files::ReplaceError::NotRegularFile ? QStringLiteral("不是普通文件") : failure.detail;
    return false;
}

} // namespace qr
