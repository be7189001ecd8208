#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes the one QR code in an image with zbarimg, after adding the white
// quiet zone our images leave out. Returns the raw payload bytes; ok is false
// when zbarimg is missing or finds no code.
QByteArray decodeQr(const QImage &image, bool *ok);
QByteArray decodeQrFile(const QString &path, bool *ok);

// Whether zbarimg is available.
bool haveZbar();
