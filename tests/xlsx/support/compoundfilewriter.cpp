#include "compoundfilewriter.h"

#include <QtEndian>

namespace xlsxtest {

namespace {

void set32(QByteArray *bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes->data() + at);
}

} // namespace

QByteArray compoundFile(const QString &name, QByteArray stream)
{
    const int sectorSize = 4096;
    // Shorter streams would go into the mini stream.
    if (stream.size() < sectorSize)
        stream.append(QByteArray(sectorSize - stream.size(), '\0'));
    const int streamSectors = (stream.size() + sectorSize - 1) / sectorSize;
    int fatSectors = 1;
    while (fatSectors * 1024 < fatSectors + 1 + streamSectors)
        ++fatSectors;
    QByteArray file(sectorSize, '\0');
    file.replace(0, 8, QByteArray::fromHex("d0cf11e0a1b11ae1"));
    const auto set16 = [&](int at, quint16 v) { qToLittleEndian(v, file.data() + at); };
    set16(24, 0x3E), set16(26, 4), set16(28, 0xFFFE), set16(30, 12), set16(32, 6);
    set32(&file, 44, quint32(fatSectors));
    set32(&file, 48, quint32(fatSectors)); // the directory follows the FAT
    set32(&file, 56, 4096);
    set32(&file, 60, 0xFFFFFFFE);
    set32(&file, 68, 0xFFFFFFFE);
    for (int i = 0; i < 109; ++i)
        set32(&file, 76 + 4 * i, i < fatSectors ? quint32(i) : 0xFFFFFFFF);
    QByteArray fat(fatSectors * sectorSize, '\xFF');
    for (int i = 0; i < fatSectors; ++i)
        set32(&fat, 4 * i, 0xFFFFFFFD);
    set32(&fat, 4 * fatSectors, 0xFFFFFFFE);
    const int first = fatSectors + 1;
    for (int i = 0; i < streamSectors; ++i)
        set32(&fat, 4 * (first + i), i + 1 < streamSectors ? quint32(first + i + 1) : 0xFFFFFFFE);
    QByteArray directory(sectorSize, '\0');
    const auto entry = [&](int at, const QString &entryName, char type, quint32 child, quint32 start, quint64 size) {
        for (int i = 0; i < entryName.size(); ++i)
            qToLittleEndian(entryName.at(i).unicode(), directory.data() + at + 2 * i);
        qToLittleEndian(quint16(2 * entryName.size() + 2), directory.data() + at + 64);
        directory[at + 66] = type;
        set32(&directory, at + 68, 0xFFFFFFFF);
        set32(&directory, at + 72, 0xFFFFFFFF);
        set32(&directory, at + 76, child);
        set32(&directory, at + 116, start);
        qToLittleEndian(size, directory.data() + at + 120);
    };
    entry(0, QStringLiteral("Root Entry"), 5, 1, 0xFFFFFFFE, 0);
    entry(128, name, 2, 0xFFFFFFFF, quint32(first), quint64(stream.size()));
    for (int i = 2; i < sectorSize / 128; ++i)
        entry(128 * i, QString(), 0, 0xFFFFFFFF, 0, 0);
    QByteArray padded = stream;
    padded.append(QByteArray(streamSectors * sectorSize - stream.size(), '\0'));
    return file + fat + directory + padded;
}

} // namespace xlsxtest
