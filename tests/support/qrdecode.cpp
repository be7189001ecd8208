#include "qrdecode.h"

#include "hostprocess.h"

#include <QDebug>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QString zxingScript = QStringLiteral(KESTROVA_SOURCE_DIR "/tests/support/zxingdecode.py");

enum class Read { Found, NoCode, Failed };

// Runs a reader, which exits with noCode when it finds none; its stdout, or
// what went wrong, into *out.
Read runReader(const QString &program, const QStringList &arguments, int noCode, QByteArray *out)
{
    HostProcess reader;
    reader.start(program, arguments);
    if (!reader.waitForFinished(30000) || reader.exitStatus() != QProcess::NormalExit) {
        *out = program.toUtf8() + " did not finish: " + reader.readAllStandardError().trimmed();
        return Read::Failed;
    }
    *out = reader.readAllStandardOutput();
    if (reader.exitCode() == 0)
        return Read::Found;
    if (reader.exitCode() == noCode)
        return Read::NoCode;
    *out = program.toUtf8() + " failed: " + reader.readAllStandardError().trimmed();
    return Read::Failed;
}

} // namespace

bool haveDecoders()
{
    static const bool zxing = [] {
        QByteArray out;
        return HostProcess::available()
               && runReader(QStringLiteral("/usr/bin/python3"), {zxingScript, QStringLiteral("--check")}, 1, &out)
                      == Read::Found;
    }();
#ifdef Q_OS_WIN
    return zxing;
#else
    return zxing && !QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty();
#endif
}

QByteArray decodeQr(const QImage &image, bool *ok)
{
    *ok = false;
    if (image.isNull())
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
    const QString png = dir.filePath(QStringLiteral("padded.png"));
    const QString pgm = dir.filePath(QStringLiteral("padded.pgm"));
    if (!padded.save(png, "PNG") || !padded.convertToFormat(QImage::Format_Grayscale8).save(pgm, "PGM")) {
        qWarning() << "decodeQr: could not write" << png << "and" << pgm;
        return {};
    }
    QByteArray byZbar;
    const Read zbar = runReader(QStringLiteral("zbarimg"),
                                {QStringLiteral("--quiet"), QStringLiteral("--raw"), QStringLiteral("-Sbinary"),
                                 QStringLiteral("-Sdisable"), QStringLiteral("-Sqrcode.enable"), png},
                                4, &byZbar);
    QByteArray byZxing;
    const Read zxing = runReader(QStringLiteral("/usr/bin/python3"), {zxingScript, pgm}, 1, &byZxing);
    if (zbar == Read::Failed || zxing == Read::Failed) {
        qWarning().noquote() << "decodeQr:" << (zbar == Read::Failed ? byZbar : byZxing);
        return {};
    }
    if (zbar != zxing || byZbar != byZxing) {
        // From the first byte that differs, 16 bytes of each.
        int at = 0;
        while (at < byZbar.size() && at < byZxing.size() && byZbar[at] == byZxing[at])
            ++at;
        const auto shown = [at](Read read, const QByteArray &bytes) {
            return read == Read::Found ? QStringLiteral("%1 bytes, from byte %2: %3")
                                             .arg(bytes.size())
                                             .arg(at)
                                             .arg(QString::fromLatin1(bytes.mid(at, 16).toHex(' ')))
                                       : QStringLiteral("no code");
        };
        qWarning().noquote() << "decodeQr: the readers disagree: zbarimg" << shown(zbar, byZbar) << "/ ZXing C++"
                             << shown(zxing, byZxing);
        return {};
    }
    *ok = zbar == Read::Found;
    return byZbar;
}

QByteArray decodeQrFile(const QString &path, bool *ok)
{
    return decodeQr(QImage(path), ok);
}
