#include "ziplayout.h"

#include "core/limits.h"

#include <algorithm>
#include <cstring>

namespace QXlsx {
namespace detail {

using namespace zip;

namespace {

// Where the central directory lies, as the end records say.
struct Directory
{
    qint64 offset = 0;
    qint64 end = 0; // where the zip64 end record or the end record starts
    quint64 count = 0;
};

bool hasSignature(const QByteArray &bytes, qint64 at, const char *signature)
{
    return at >= 0 && at + 4 <= bytes.size() && std::memcmp(bytes.constData() + at, signature, 4) == 0;
}

// True when from..from+length lies within 0..limit.
bool fits(qint64 from, quint64 length, qint64 limit)
{
    return from >= 0 && from <= limit && length <= quint64(limit - from);
}

bool damaged(ReadError *error, qint64 offset, const QByteArray &name = QByteArray())
{
    setReadError(error, ReadError::at(ReadError::DamagedZip, QString::fromUtf8(name), offset));
    return false;
}

// The fixed field of a central record that a zip64 field may stand in for.
quint64 fixedValue(const QByteArray &fixed, CentralRecord::Field field)
{
    switch (field) {
    case CentralRecord::Uncompressed:
        return le32(fixed.constData() + central::UncompressedSize);
    case CentralRecord::Compressed:
        return le32(fixed.constData() + central::CompressedSize);
    case CentralRecord::LocalOffset:
        return le32(fixed.constData() + central::LocalOffset);
    case CentralRecord::DiskStart:
        return le16(fixed.constData() + central::DiskStart);
    }
    return 0;
}

// The data descriptor after an entry's data, matching its central record:
// with or without its signature, with 4- or 8-byte sizes. Its length, or -1.
qint64 descriptorLength(const QByteArray &bytes, qint64 at, qint64 limit, const ZipEntryLayout &entry, bool zip64First)
{
    const bool signature = hasSignature(bytes, at, descriptor::Signature);
    for (int withSignature = signature ? 1 : 0; withSignature >= 0; --withSignature) {
        for (int pass = 0; pass < 2; ++pass) {
            const bool wide = (pass == 0) == zip64First;
            const qint64 length = (withSignature ? 4 : 0) + 4 + (wide ? 16 : 8);
            if (!fits(at, quint64(length), limit))
                continue;
            const char *p = bytes.constData() + at + (withSignature ? 4 : 0);
            const quint64 c = wide ? le64(p + 4) : le32(p + 4);
            const quint64 u = wide ? le64(p + 12) : le32(p + 8);
            if (le32(p) == entry.record.crc() && c == entry.compressed && u == entry.uncompressed)
                return length;
        }
    }
    return -1;
}

// The end record, and the zip64 one its locator points to: one disk, nothing
// before the zip (the offsets count from the start of the bytes), and no more
// entries than the directory has room for.
bool readDirectory(const QByteArray &bytes, ZipLayout *layout, Directory *directory, ReadError *error)
{
    const qint64 endAt = findEndRecord(bytes);
    if (endAt < 0)
        return damaged(error, bytes.size());
    const char *e = bytes.constData() + endAt;
    quint64 disk = le16(e + end::Disk);
    quint64 directoryDisk = le16(e + end::DirectoryDisk);
    quint64 onDisk = le16(e + end::DiskEntries);
    quint64 count = le16(e + end::Entries);
    quint64 size = le32(e + end::DirectorySize);
    quint64 offset = le32(e + end::DirectoryOffset);
    qint64 directoryEnd = endAt;
    layout->endRecord = endAt;

    const qint64 locatorAt = endAt - locator::Size;
    if (hasSignature(bytes, locatorAt, locator::Signature)) {
        const char *l = bytes.constData() + locatorAt;
        const quint64 at = le64(l + locator::End64Offset);
        if (le32(l + locator::Disk) != 0 || le32(l + locator::Disks) > 1 || !fits(qint64(at), end64::Size, locatorAt)
            || !hasSignature(bytes, qint64(at), end64::Signature))
            return damaged(error, locatorAt);
        const char *z = bytes.constData() + at;
        const quint64 length = le64(z + end64::RecordSize) + end64::Uncounted;
        if (length < quint64(end64::Size) || !fits(qint64(at), length, locatorAt))
            return damaged(error, qint64(at));
        disk = le32(z + end64::Disk);
        directoryDisk = le32(z + end64::DirectoryDisk);
        onDisk = le64(z + end64::DiskEntries);
        count = le64(z + end64::Entries);
        size = le64(z + end64::DirectorySize);
        offset = le64(z + end64::DirectoryOffset);
        directoryEnd = qint64(at);
        layout->zip64Record = qint64(at);
        layout->zip64RecordLength = qint64(length);
    }
    if (disk != 0 || directoryDisk != 0 || onDisk != count || !fits(qint64(offset), size, directoryEnd)
        || qint64(offset + size) != directoryEnd)
        return damaged(error, directoryEnd);
    if (count > quint64(limits::ZipEntries)) {
        setReadError(error, ReadError::reached(ReadError::ZipEntries));
        return false;
    }
    if (count * central::Size > size)
        return damaged(error, qint64(offset));
    directory->offset = qint64(offset);
    directory->end = directoryEnd;
    directory->count = count;
    return true;
}

// The central record at at, taken apart; its length in *length.
bool readCentralRecord(const QByteArray &bytes, qint64 at, const Directory &directory, ZipEntryLayout *entry,
                       qint64 *length, ReadError *error)
{
    if (!fits(at, central::Size, directory.end) || !hasSignature(bytes, at, central::Signature))
        return damaged(error, at);
    const char *c = bytes.constData() + at;
    const int nameLength = le16(c + central::NameLength);
    const int extraLength = le16(c + central::ExtraLength);
    const int commentLength = le16(c + central::CommentLength);
    *length = central::Size + nameLength + extraLength + commentLength;
    if (!fits(at, quint64(*length), directory.end))
        return damaged(error, at);
    CentralRecord &r = entry->record;
    const int from = int(at);
    r.fixed = bytes.mid(from, central::Size);
    r.name = bytes.mid(from + central::Size, nameLength);
    r.extra = bytes.mid(from + central::Size + nameLength, extraLength);
    r.comment = bytes.mid(from + central::Size + nameLength + extraLength, commentLength);
    entry->central = at;

    quint64 local = 0, startDisk = 0;
    if (!r.value(CentralRecord::Compressed, &entry->compressed) || !r.value(CentralRecord::Uncompressed, &entry->uncompressed)
        || !r.value(CentralRecord::LocalOffset, &local) || !r.value(CentralRecord::DiskStart, &startDisk) || startDisk != 0
        || !fits(qint64(local), local::Size, directory.offset))
        return damaged(error, at, r.name);
    entry->local = qint64(local);
    return true;
}

// The sizes a local header gives, from its zip64 block where it holds markers.
bool localSizes(const char *h, const QByteArray &extra, quint64 *compressed, quint64 *uncompressed)
{
    *compressed = le32(h + local::CompressedSize);
    *uncompressed = le32(h + local::UncompressedSize);
    if (*compressed != Max32 && *uncompressed != Max32)
        return true;
    int data = 0, length = 0;
    if (!findExtraBlock(extra, Zip64ExtraId, &data, &length) || length < 16)
        return false;
    *uncompressed = le64(extra.constData() + data);
    *compressed = le64(extra.constData() + data + 8);
    return true;
}

// The local header of an entry, the data after it and the data descriptor if
// the header announces one: within the bytes before the central directory, and
// saying what the central record says.
bool readLocalHeader(const QByteArray &bytes, const Directory &directory, ZipEntryLayout *entry, ReadError *error)
{
    const CentralRecord &r = entry->record;
    const qint64 at = entry->local;
    if (!hasSignature(bytes, at, local::Signature))
        return damaged(error, at, r.name);
    const char *h = bytes.constData() + at;
    const int nameLength = le16(h + local::NameLength);
    const int extraLength = le16(h + local::ExtraLength);
    entry->localFlags = le16(h + local::Flags);
    entry->data = at + local::Size + nameLength + extraLength;
    if (!fits(entry->data, entry->compressed, directory.offset) || le16(h + local::Method) != r.method()
        || QByteArray::fromRawData(h + local::Size, nameLength) != r.name)
        return damaged(error, at, r.name);
    entry->end = entry->data + qint64(entry->compressed);

    const QByteArray extra = QByteArray::fromRawData(h + local::Size + nameLength, extraLength);
    if (!(entry->localFlags & DescriptorFlag)) {
        quint64 compressed = 0, uncompressed = 0;
        if (!localSizes(h, extra, &compressed, &uncompressed) || le32(h + local::Crc) != r.crc()
            || compressed != entry->compressed || uncompressed != entry->uncompressed)
            return damaged(error, at, r.name);
        return true;
    }
    int data = 0, dataLength = 0;
    const bool zip64 = findExtraBlock(extra, Zip64ExtraId, &data, &dataLength) || entry->compressed >= Max32
        || entry->uncompressed >= Max32;
    const qint64 length = descriptorLength(bytes, entry->end, directory.offset, *entry, zip64);
    if (length < 0)
        return damaged(error, entry->end, r.name);
    entry->end += length;
    return true;
}

// Entries never share bytes: each is read from its own, and a copy is never
// larger than the source.
bool checkApart(const ZipLayout &layout, ReadError *error)
{
    std::vector<const ZipEntryLayout *> byOffset;
    byOffset.reserve(layout.entries.size());
    for (const ZipEntryLayout &entry : layout.entries)
        byOffset.push_back(&entry);
    std::sort(byOffset.begin(), byOffset.end(), [](const ZipEntryLayout *a, const ZipEntryLayout *b) { return a->local < b->local; });
    for (size_t i = 1; i < byOffset.size(); ++i) {
        if (byOffset[i - 1]->end > byOffset[i]->local)
            return damaged(error, byOffset[i]->local, byOffset[i]->record.name);
    }
    return true;
}

} // namespace

qint64 findEndRecord(const QByteArray &bytes)
{
    const qint64 size = bytes.size();
    for (qint64 at = size - end::Size; at >= 0 && at >= size - end::Size - Max16; --at) {
        if (hasSignature(bytes, at, end::Signature) && at + end::Size + le16(bytes.constData() + at + end::CommentLength) == size)
            return at;
    }
    return -1;
}

bool findExtraBlock(const QByteArray &extra, quint16 id, int *data, int *length)
{
    for (int at = 0; at + block::Size <= extra.size();) {
        const int size = le16(extra.constData() + at + block::Length);
        if (at + block::Size + size > extra.size())
            return false;
        if (le16(extra.constData() + at + block::Id) == id) {
            *data = at + block::Size;
            *length = size;
            return true;
        }
        at += block::Size + size;
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

bool readZipLayout(const QByteArray &bytes, ZipLayout *layout, ReadError *error)
{
    Directory directory;
    if (!readDirectory(bytes, layout, &directory, error))
        return false;
    layout->entries.clear();
    layout->entries.resize(size_t(directory.count));
    qint64 at = directory.offset;
    for (ZipEntryLayout &entry : layout->entries) {
        qint64 length = 0;
        if (!readCentralRecord(bytes, at, directory, &entry, &length, error) || !readLocalHeader(bytes, directory, &entry, error))
            return false;
        at += length;
    }
    if (at != directory.end)
        return damaged(error, at);
    return checkApart(*layout, error);
}

} // namespace detail
} // namespace QXlsx
