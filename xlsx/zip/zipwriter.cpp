#include "zipwriter.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace QXlsx {
namespace detail {

using namespace zip;

namespace {

// On a 40 MB sheet part, level 2 takes under a third of the time of zlib's
// default level 6, for 16% more compressed bytes.
constexpr int DeflateLevel = 2;

void put16(QByteArray &b, int at, quint16 v)
{
    qToLittleEndian<quint16>(v, b.data() + at);
}

void put32(QByteArray &b, int at, quint32 v)
{
    qToLittleEndian<quint32>(v, b.data() + at);
}

void put64(QByteArray &b, int at, quint64 v)
{
    qToLittleEndian<quint64>(v, b.data() + at);
}

// A zip64 extra block holding values, 8 bytes each.
QByteArray zip64Block(const std::vector<quint64> &values)
{
    QByteArray bytes(block::Size + 8 * int(values.size()), '\0');
    put16(bytes, block::Id, Zip64ExtraId);
    put16(bytes, block::Length, quint16(8 * values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        put64(bytes, block::Size + 8 * int(i), values[i]);
    return bytes;
}

QByteArray withoutZip64Block(const QByteArray &extra)
{
    int data = 0;
    int length = 0;
    if (!findExtraBlock(extra, Zip64ExtraId, &data, &length))
        return extra;
    return extra.left(data - block::Size) + extra.mid(data + length);
}

void raiseVersionNeeded(QByteArray &fixed, int at, quint16 version)
{
    put16(fixed, at, std::max(le16(fixed.constData() + at), version));
}

bool setExtra(CentralRecord &r, const QByteArray &extra)
{
    if (extra.size() > Max16)
        return false;
    r.extra = extra;
    put16(r.fixed, central::ExtraLength, quint16(extra.size()));
    return true;
}

// Points the record at its local header, now at offset: where the offset is
// held stays so unless it no longer fits in 32 bits.
bool setLocalOffset(CentralRecord &r, quint64 offset)
{
    const int at = r.zip64Position(CentralRecord::LocalOffset);
    if (at >= 0) {
        put64(r.extra, at, offset);
        return true;
    }
    if (r.marked(CentralRecord::LocalOffset))
        return false;
    if (offset < Max32) {
        put32(r.fixed, central::LocalOffset, quint32(offset));
        return true;
    }
    // The offset joins the zip64 block, after the sizes it holds and before the disk.
    QByteArray extra = r.extra;
    int data = 0;
    int length = 0;
    QByteArray value(8, '\0');
    put64(value, 0, offset);
    if (findExtraBlock(extra, Zip64ExtraId, &data, &length)) {
        const int at = data + 8 * (int(r.marked(CentralRecord::Uncompressed)) + int(r.marked(CentralRecord::Compressed)));
        if (at > data + length || length + 8 > Max16)
            return false;
        extra.insert(at, value);
        put16(extra, data - block::Size + block::Length, quint16(length + 8));
    } else {
        extra += zip64Block({offset});
    }
    if (!setExtra(r, extra))
        return false;
    put32(r.fixed, central::LocalOffset, Max32);
    raiseVersionNeeded(r.fixed, central::VersionNeeded, Zip64Version);
    return true;
}

bool deflateRaw(const QByteArray &in, QByteArray *out)
{
    z_stream z {};
    if (deflateInit2(&z, DeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    const uLong bound = deflateBound(&z, uLong(in.size()));
    if (bound > uLong(INT_MAX)) {
        deflateEnd(&z);
        return false;
    }
    out->resize(int(bound));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef *>(out->data());
    z.avail_out = uInt(out->size());
    const int result = deflate(&z, Z_FINISH);
    const uLong produced = z.total_out;
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        return false;
    out->resize(int(produced));
    return true;
}

// An entry written afresh: its local header, compressed data and central record.
struct NewEntry
{
    QByteArray header;
    QByteArray data;
    CentralRecord record;
};

// The entry with content instead of what it held: name, flags, times, attributes
// and extra fields kept (the zip64 block rebuilt as the new sizes need).
bool replaceEntry(const QByteArray &bytes, const ZipEntryLayout &source, const QByteArray &content, NewEntry *out)
{
    const char *h = bytes.constData() + source.local;
    const quint16 localFlags = le16(h + local::Flags);
    if ((source.record.flags() & EncryptedFlag) || (localFlags & (EncryptedFlag | MaskedHeadersFlag)))
        return false;
    if (!deflateRaw(content, &out->data))
        return false;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(content.constData()), uInt(content.size())));
    const quint64 compressed = quint64(out->data.size());
    const quint64 uncompressed = quint64(content.size());
    const bool zip64 = compressed >= Max32 || uncompressed >= Max32;

    // The local header: a zip64 block there holds both sizes.
    const int nameLength = le16(h + local::NameLength);
    QByteArray fixed(h, local::Size);
    const QByteArray name(h + local::Size, nameLength);
    QByteArray extra = withoutZip64Block(QByteArray(h + local::Size + nameLength, le16(h + local::ExtraLength)));
    if (zip64)
        extra += zip64Block({uncompressed, compressed});
    if (extra.size() > Max16)
        return false;
    raiseVersionNeeded(fixed, local::VersionNeeded, zip64 ? Zip64Version : DeflateVersion);
    put16(fixed, local::Flags, localFlags & ~DescriptorFlag);
    put16(fixed, local::Method, Deflated);
    put32(fixed, local::Crc, crc);
    put32(fixed, local::CompressedSize, zip64 ? Max32 : quint32(compressed));
    put32(fixed, local::UncompressedSize, zip64 ? Max32 : quint32(uncompressed));
    put16(fixed, local::ExtraLength, quint16(extra.size()));
    out->header = fixed + name + extra;

    // The central record: its zip64 block holds only the sizes that need it.
    CentralRecord &r = out->record;
    r = source.record;
    std::vector<quint64> large;
    if (uncompressed >= Max32)
        large.push_back(uncompressed);
    if (compressed >= Max32)
        large.push_back(compressed);
    if (!setExtra(r, withoutZip64Block(r.extra) + (large.empty() ? QByteArray() : zip64Block(large))))
        return false;
    raiseVersionNeeded(r.fixed, central::VersionNeeded, zip64 ? Zip64Version : DeflateVersion);
    put16(r.fixed, central::Flags, r.flags() & ~DescriptorFlag);
    put16(r.fixed, central::Method, Deflated);
    put32(r.fixed, central::Crc, crc);
    put32(r.fixed, central::CompressedSize, compressed >= Max32 ? Max32 : quint32(compressed));
    put32(r.fixed, central::UncompressedSize, uncompressed >= Max32 ? Max32 : quint32(uncompressed));
    put16(r.fixed, central::DiskStart, 0);
    put32(r.fixed, central::LocalOffset, 0);
    return true;
}

class Output
{
public:
    explicit Output(QIODevice *device) : m_device(device) {}

    bool write(const char *data, qint64 length)
    {
        if (m_device->write(data, length) != length)
            return false;
        m_written += length;
        return true;
    }
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    quint64 written() const { return quint64(m_written); }

private:
    QIODevice *m_device;
    qint64 m_written = 0;
};

// A field of an end record: the value, or the marker when it does not fit or
// when the source had the marker there and a zip64 record carries the value.
quint64 endField(quint64 value, quint64 marker, quint64 source, bool zip64)
{
    return value >= marker || (zip64 && source == marker) ? marker : value;
}

bool writeEndRecords(const QByteArray &bytes, const ZipLayout &layout, quint64 directory, quint64 directorySize, Output &out)
{
    const quint64 count = layout.entries.size();
    const bool zip64 = layout.zip64Record >= 0 || count >= Max16 || directorySize >= Max32 || directory >= Max32;
    if (zip64) {
        QByteArray record64;
        QByteArray locatorBytes;
        if (layout.zip64Record >= 0) {
            record64 = bytes.mid(int(layout.zip64Record), int(layout.zip64RecordLength));
            locatorBytes = bytes.mid(int(layout.endRecord) - locator::Size, locator::Size);
        } else {
            record64 = QByteArray(end64::Signature, 4) + QByteArray(end64::Size - 4, '\0');
            put64(record64, end64::RecordSize, end64::Size - end64::Uncounted);
            put16(record64, end64::VersionMadeBy, Zip64Version);
            put16(record64, end64::VersionNeeded, Zip64Version);
            locatorBytes = QByteArray(locator::Signature, 4) + QByteArray(locator::Size - 4, '\0');
            put32(locatorBytes, locator::Disks, 1);
        }
        put64(record64, end64::DiskEntries, count);
        put64(record64, end64::Entries, count);
        put64(record64, end64::DirectorySize, directorySize);
        put64(record64, end64::DirectoryOffset, directory);
        put64(locatorBytes, locator::End64Offset, out.written());
        if (!out.write(record64) || !out.write(locatorBytes))
            return false;
    }
    QByteArray endBytes = bytes.mid(int(layout.endRecord));
    const char *e = bytes.constData() + layout.endRecord;
    put16(endBytes, end::DiskEntries, quint16(endField(count, Max16, le16(e + end::DiskEntries), zip64)));
    put16(endBytes, end::Entries, quint16(endField(count, Max16, le16(e + end::Entries), zip64)));
    put32(endBytes, end::DirectorySize, quint32(endField(directorySize, Max32, le32(e + end::DirectorySize), zip64)));
    put32(endBytes, end::DirectoryOffset, quint32(endField(directory, Max32, le32(e + end::DirectoryOffset), zip64)));
    return out.write(endBytes);
}

} // namespace

bool writePackage(const QByteArray &bytes, const ZipLayout &layout, const std::map<int, QByteArray> &replacements,
                  QIODevice *out)
{
    if (replacements.empty())
        return out->write(bytes) == bytes.size();

    const int count = int(layout.entries.size());
    std::vector<NewEntry> fresh(layout.entries.size());
    for (const auto &replacement : replacements) {
        const int i = replacement.first;
        if (i < 0 || i >= count || !replaceEntry(bytes, layout.entries[size_t(i)], replacement.second, &fresh[size_t(i)]))
            return false;
    }

    // Entries go out in the order they had, their central records too.
    std::vector<int> order(layout.entries.size());
    for (int i = 0; i < count; ++i)
        order[size_t(i)] = i;
    std::sort(order.begin(), order.end(), [&](int a, int b) { return layout.entries[size_t(a)].local < layout.entries[size_t(b)].local; });

    Output output(out);
    std::vector<CentralRecord> records(layout.entries.size());
    for (int i : order) {
        const ZipEntryLayout &entry = layout.entries[size_t(i)];
        const bool replaced = replacements.count(i) > 0;
        CentralRecord &r = records[size_t(i)];
        r = replaced ? fresh[size_t(i)].record : entry.record;
        if (!setLocalOffset(r, output.written()))
            return false;
        const bool written = replaced ? output.write(fresh[size_t(i)].header) && output.write(fresh[size_t(i)].data)
                                      : output.write(bytes.constData() + entry.local, entry.end - entry.local);
        if (!written)
            return false;
    }
    const quint64 directory = output.written();
    for (const CentralRecord &r : records) {
        if (!output.write(r.bytes()))
            return false;
    }
    return writeEndRecords(bytes, layout, directory, output.written() - directory, output);
}

} // namespace detail
} // namespace QXlsx
