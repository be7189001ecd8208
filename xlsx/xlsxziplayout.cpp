#include "xlsxziplayout.h"

#include "xlsxpackage.h"

#include <QtEndian>

#include <algorithm>

namespace QXlsx {
namespace detail {

namespace {

constexpr int EndRecordSize = 22;
constexpr int LocatorSize = 20;
constexpr int Zip64RecordSize = 56;
constexpr int CentralSize = 46;

bool hasSignature(const QByteArray &bytes, qint64 at, char a, char b)
{
    return at >= 0 && at + 4 <= bytes.size() && bytes.at(int(at)) == 'P' && bytes.at(int(at) + 1) == 'K'
        && bytes.at(int(at) + 2) == a && bytes.at(int(at) + 3) == b;
}

// True when from..from+length lies within 0..limit.
bool fits(qint64 from, quint64 length, qint64 limit)
{
    return from >= 0 && from <= limit && length <= quint64(limit - from);
}

// The fixed field of a central record that a zip64 field may stand in for.
quint64 fixedValue(const QByteArray &fixed, CentralRecord::Field field)
{
    switch (field) {
    case CentralRecord::Uncompressed:
        return le32(fixed.constData() + 24);
    case CentralRecord::Compressed:
        return le32(fixed.constData() + 20);
    case CentralRecord::LocalOffset:
        return le32(fixed.constData() + 42);
    case CentralRecord::DiskStart:
        return le16(fixed.constData() + 34);
    }
    return 0;
}

// The data descriptor after an entry's data, matching its central record:
// with or without its signature, with 4- or 8-byte sizes. Its length, or -1.
qint64 descriptorLength(const QByteArray &bytes, qint64 at, qint64 limit, quint32 crc, quint64 compressed,
                        quint64 uncompressed, bool zip64First)
{
    const bool signature = hasSignature(bytes, at, 7, 8);
    for (int withSignature = signature ? 1 : 0; withSignature >= 0; --withSignature) {
        for (int pass = 0; pass < 2; ++pass) {
            const bool wide = (pass == 0) == zip64First;
            const qint64 length = (withSignature ? 4 : 0) + 4 + (wide ? 16 : 8);
            if (!fits(at, quint64(length), limit))
                continue;
            const char *p = bytes.constData() + at + (withSignature ? 4 : 0);
            const quint64 c = wide ? le64(p + 4) : le32(p + 4);
            const quint64 u = wide ? le64(p + 12) : le32(p + 8);
            if (le32(p) == crc && c == compressed && u == uncompressed)
                return length;
        }
    }
    return -1;
}

// The record of entry index agrees with what the zip reader listed for it.
bool sameAsListed(const CentralRecord &record, qint64 at, int index, const PackageEntry &entry,
                  quint64 compressed, quint64 uncompressed)
{
    const QuaZipFileInfo64 &info = entry.info;
    if (entry.pos.pos_in_zip_directory != quint64(at) || entry.pos.num_of_file != quint64(index))
        return false;
    if (info.versionCreated != le16(record.fixed.constData() + 4) || info.versionNeeded != le16(record.fixed.constData() + 6)
        || info.flags != record.flags() || info.method != record.method() || info.crc != record.crc()
        || info.compressedSize != compressed || info.uncompressedSize != uncompressed
        || info.internalAttr != record.internalAttributes() || info.externalAttr != record.externalAttributes()
        || info.extra != record.extra)
        return false;
    // Names are compared where their encoding is known.
    const bool utf8 = record.flags() & 0x0800;
    const bool ascii = std::all_of(record.name.begin(), record.name.end(), [](char c) { return uchar(c) < 0x80; });
    if (utf8 || ascii)
        return info.name == (utf8 ? QString::fromUtf8(record.name) : QString::fromLatin1(record.name));
    return true;
}

} // namespace

quint16 le16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 le32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

quint64 le64(const char *p)
{
    return qFromLittleEndian<quint64>(p);
}

qint64 findEndRecord(const QByteArray &bytes)
{
    const qint64 size = bytes.size();
    for (qint64 at = size - EndRecordSize; at >= 0 && at >= size - EndRecordSize - Max16; --at) {
        if (!hasSignature(bytes, at, 5, 6))
            continue;
        if (at + EndRecordSize + le16(bytes.constData() + at + 20) == size)
            return at;
    }
    return -1;
}

bool findExtraBlock(const QByteArray &extra, quint16 id, int *data, int *length)
{
    for (int at = 0; at + 4 <= extra.size();) {
        const int size = le16(extra.constData() + at + 2);
        if (at + 4 + size > extra.size())
            return false;
        if (le16(extra.constData() + at) == id) {
            *data = at + 4;
            *length = size;
            return true;
        }
        at += 4 + size;
    }
    return false;
}

bool CentralRecord::marked(Field field) const
{
    return fixedValue(fixed, field) == (field == DiskStart ? Max16 : Max32);
}

int CentralRecord::zip64Position(Field field) const
{
    if (!marked(field))
        return -1;
    int data = 0;
    int length = 0;
    if (!findExtraBlock(extra, Zip64ExtraId, &data, &length))
        return -1;
    int at = 0;
    for (int f = Uncompressed; f < field; ++f) {
        if (marked(Field(f)))
            at += 8;
    }
    const int width = field == DiskStart ? 4 : 8;
    return at + width <= length ? data + at : -1;
}

bool CentralRecord::value(Field field, quint64 *out) const
{
    if (!marked(field)) {
        *out = fixedValue(fixed, field);
        return true;
    }
    const int at = zip64Position(field);
    if (at < 0)
        return false;
    *out = field == DiskStart ? le32(extra.constData() + at) : le64(extra.constData() + at);
    return true;
}

bool readZipLayout(const Package &package, ZipLayout *layout)
{
    const QByteArray &bytes = package.bytes();
    const auto &listed = package.entries();
    const qint64 end = findEndRecord(bytes);
    if (end < 0)
        return false;
    const char *e = bytes.constData() + end;
    quint64 disk = le16(e + 4);
    quint64 directoryDisk = le16(e + 6);
    quint64 onDisk = le16(e + 8);
    quint64 count = le16(e + 10);
    quint64 directorySize = le32(e + 12);
    quint64 directory = le32(e + 16);
    qint64 directoryEnd = end;

    // A zip64 end record is found through the locator just before the end record.
    const qint64 locator = end - LocatorSize;
    if (hasSignature(bytes, locator, 6, 7)) {
        const char *l = bytes.constData() + locator;
        const quint64 at = le64(l + 8);
        if (le32(l + 4) != 0 || le32(l + 16) > 1 || !fits(qint64(at), Zip64RecordSize, locator) || !hasSignature(bytes, qint64(at), 6, 6))
            return false;
        const char *z = bytes.constData() + at;
        const quint64 length = le64(z + 4) + 12;
        if (length < Zip64RecordSize || !fits(qint64(at), length, locator))
            return false;
        disk = le32(z + 16);
        directoryDisk = le32(z + 20);
        onDisk = le64(z + 24);
        count = le64(z + 32);
        directorySize = le64(z + 40);
        directory = le64(z + 48);
        directoryEnd = qint64(at);
        layout->zip64Record = qint64(at);
        layout->zip64RecordLength = qint64(length);
    }
    layout->endRecord = end;

    // One disk, nothing before the zip (the offsets are from the start of the
    // bytes), and as many entries as the zip reader listed.
    if (disk != 0 || directoryDisk != 0 || onDisk != count || count != listed.size()
        || !fits(qint64(directory), directorySize, directoryEnd) || qint64(directory + directorySize) != directoryEnd)
        return false;

    layout->entries.clear();
    layout->entries.reserve(size_t(count));
    qint64 at = qint64(directory);
    for (size_t i = 0; i < count; ++i) {
        if (!fits(at, CentralSize, directoryEnd) || !hasSignature(bytes, at, 1, 2))
            return false;
        const char *c = bytes.constData() + at;
        const int nameLength = le16(c + 28);
        const int extraLength = le16(c + 30);
        const int commentLength = le16(c + 32);
        const qint64 length = CentralSize + nameLength + extraLength + commentLength;
        if (!fits(at, quint64(length), directoryEnd))
            return false;
        ZipEntryLayout entry;
        CentralRecord &r = entry.record;
        r.fixed = bytes.mid(int(at), CentralSize);
        r.name = bytes.mid(int(at) + CentralSize, nameLength);
        r.extra = bytes.mid(int(at) + CentralSize + nameLength, extraLength);
        r.comment = bytes.mid(int(at) + CentralSize + nameLength + extraLength, commentLength);

        quint64 compressed = 0, uncompressed = 0, offset = 0, startDisk = 0;
        if (!r.value(CentralRecord::Compressed, &compressed) || !r.value(CentralRecord::Uncompressed, &uncompressed)
            || !r.value(CentralRecord::LocalOffset, &offset) || !r.value(CentralRecord::DiskStart, &startDisk)
            || startDisk != 0 || !sameAsListed(r, at, int(i), listed[i], compressed, uncompressed))
            return false;

        // The local header, the data, and the data descriptor if the header announces one.
        if (!fits(qint64(offset), LocalHeaderSize, qint64(directory)) || !hasSignature(bytes, qint64(offset), 3, 4))
            return false;
        const char *h = bytes.constData() + offset;
        const int localExtraLength = le16(h + 28);
        const qint64 data = qint64(offset) + LocalHeaderSize + le16(h + 26) + localExtraLength;
        if (!fits(data, compressed, qint64(directory)))
            return false;
        entry.local = qint64(offset);
        entry.end = data + qint64(compressed);
        if (le16(h + 6) & DescriptorFlag) {
            int block = 0, blockLength = 0;
            const QByteArray localExtra = QByteArray::fromRawData(h + LocalHeaderSize + le16(h + 26), localExtraLength);
            const bool zip64 = findExtraBlock(localExtra, Zip64ExtraId, &block, &blockLength) || compressed >= Max32
                || uncompressed >= Max32;
            const qint64 descriptor = descriptorLength(bytes, entry.end, qint64(directory), r.crc(), compressed, uncompressed, zip64);
            if (descriptor < 0)
                return false;
            entry.end += descriptor;
        }
        layout->entries.push_back(std::move(entry));
        at += length;
    }
    if (at != directoryEnd)
        return false;

    // Entries never share bytes: a copy is then never larger than the source.
    std::vector<const ZipEntryLayout *> byOffset;
    for (const ZipEntryLayout &entry : layout->entries)
        byOffset.push_back(&entry);
    std::sort(byOffset.begin(), byOffset.end(), [](const ZipEntryLayout *a, const ZipEntryLayout *b) { return a->local < b->local; });
    for (size_t i = 1; i < byOffset.size(); ++i) {
        if (byOffset[i - 1]->end > byOffset[i]->local)
            return false;
    }
    return true;
}

} // namespace detail
} // namespace QXlsx
