#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes the one QR code in an image with two independent readers, zbarimg
// and ZXing C++ (tests/support/zxingdecode.py), after adding the white quiet
// zone our images leave out. Returns the raw payload bytes; ok is false when
// a reader is missing, neither finds a code, or they disagree (told by a
// warning).
QByteArray decodeQr(const QImage &image, bool *ok);
QByteArray decodeQrFile(const QString &path, bool *ok);

// Whether zbarimg and ZXing C++ are available.
bool haveDecoders();
