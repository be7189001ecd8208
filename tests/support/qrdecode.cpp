#include "qrdecode.h"

#include "hostprocess.h"

#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>

bool haveZbar()
{
#ifdef Q_OS_WIN
    return HostProcess::available();
#else
    return !QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty();
#endif
}

QByteArray decodeQr(const QImage &image, bool *ok)
{
    *ok = false;
    if (image.isNull() || !haveZbar())
        return {};
    // Four-module quiet zone at the coarsest scale, then an integer upscale so
    // that one-pixel modules still decode.
    const int zoom = 4;
    const int margin = 40;
    QImage padded(image.width() + 2 * margin, image.height() + 2 * margin, QImage::Format_RGB32);
    padded.fill(Qt::white);
    QPainter(&padded).drawImage(margin, margin, image);
    padded = padded.scaled(padded.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("padded.png"));
    if (!padded.save(file, "PNG"))
        return {};
    HostProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                                           QStringLiteral("-Sbinary"), QStringLiteral("-Sqrcode.enable"), file});
    if (!zbar.waitForFinished(30000) || zbar.exitStatus() != QProcess::NormalExit || zbar.exitCode() != 0)
        return {};
    QByteArray out = zbar.readAllStandardOutput();
    if (out.endsWith('\n'))
        out.chop(1);
    *ok = true;
    return out;
}

QByteArray decodeQrFile(const QString &path, bool *ok)
{
    return decodeQr(QImage(path), ok);
}
