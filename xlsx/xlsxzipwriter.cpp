#include "xlsxzipwriter.h"

#include "xlsxpackage.h"
#include "xlsxziplayout.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace QXlsx {
namespace detail {

namespace {

// On a 40 MB sheet part, level 2 takes under a third of the time of zlib's
// default level 6, for 16% more compressed bytes.
constexpr int DeflateLevel = 2;
constexpr quint16 Deflated = 8;
constexpr quint16 EncryptedFlag = 0x0001;
constexpr quint16 MaskedHeadersFlag = 0x2000;
constexpr quint16 DeflateVersion = 20;
constexpr quint16 Zip64Version = 45;

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
    QByteArray block(4 + 8 * int(values.size()), '\0');
    put16(block, 0, Zip64ExtraId);
    put16(block, 2, quint16(8 * values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        put64(block, 4 + 8 * int(i), values[i]);
    return block;
}

QByteArray withoutZip64Block(const QByteArray &extra)
{
    int data = 0;
    int length = 0;
    if (!findExtraBlock(extra, Zip64ExtraId, &data, &length))
        return extra;
    return extra.left(data - 4) + extra.mid(data + length);
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
    put16(r.fixed, 30, quint16(extra.size()));
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
        put32(r.fixed, 42, quint32(offset));
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
        put16(extra, data - 2, quint16(length + 8));
    } else {
        extra += zip64Block({offset});
    }
    if (!setExtra(r, extra))
        return false;
    put32(r.fixed, 42, Max32);
    raiseVersionNeeded(r.fixed, 6, Zip64Version);
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
    const quint16 localFlags = le16(h + 6);
    if ((source.record.flags() & EncryptedFlag) || (localFlags & (EncryptedFlag | MaskedHeadersFlag)))
        return false;
    if (!deflateRaw(content, &out->data))
        return false;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(content.constData()), uInt(content.size())));
    const quint64 compressed = quint64(out->data.size());
    const quint64 uncompressed = quint64(content.size());
    const bool zip64 = compressed >= Max32 || uncompressed >= Max32;

    // The local header: a zip64 block there holds both sizes.
    const int nameLength = le16(h + 26);
    QByteArray fixed(h, LocalHeaderSize);
    const QByteArray name(h + LocalHeaderSize, nameLength);
    QByteArray extra = withoutZip64Block(QByteArray(h + LocalHeaderSize + nameLength, le16(h + 28)));
    if (zip64)
        extra += zip64Block({uncompressed, compressed});
    if (extra.size() > Max16)
        return false;
    raiseVersionNeeded(fixed, 4, zip64 ? Zip64Version : DeflateVersion);
    put16(fixed, 6, localFlags & ~DescriptorFlag);
    put16(fixed, 8, Deflated);
    put32(fixed, 14, crc);
    put32(fixed, 18, zip64 ? Max32 : quint32(compressed));
    put32(fixed, 22, zip64 ? Max32 : quint32(uncompressed));
    put16(fixed, 28, quint16(extra.size()));
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
    raiseVersionNeeded(r.fixed, 6, zip64 ? Zip64Version : DeflateVersion);
    put16(r.fixed, 8, r.flags() & ~DescriptorFlag);
    put16(r.fixed, 10, Deflated);
    put32(r.fixed, 16, crc);
    put32(r.fixed, 20, compressed >= Max32 ? Max32 : quint32(compressed));
    put32(r.fixed, 24, uncompressed >= Max32 ? Max32 : quint32(uncompressed));
    put16(r.fixed, 34, 0);
    put32(r.fixed, 42, 0);
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
        QByteArray record;
        QByteArray locator;
        if (layout.zip64Record >= 0) {
            record = bytes.mid(int(layout.zip64Record), int(layout.zip64RecordLength));
            locator = bytes.mid(int(layout.endRecord) - 20, 20);
        } else {
            record = QByteArray("PK\x06\x06", 4) + QByteArray(52, '\0');
            put64(record, 4, 44);
            put16(record, 12, Zip64Version);
            put16(record, 14, Zip64Version);
            locator = QByteArray("PK\x06\x07", 4) + QByteArray(16, '\0');
            put32(locator, 16, 1);
        }
        put64(record, 24, count);
        put64(record, 32, count);
        put64(record, 40, directorySize);
        put64(record, 48, directory);
        put64(locator, 8, out.written());
        if (!out.write(record) || !out.write(locator))
            return false;
    }
    QByteArray end = bytes.mid(int(layout.endRecord));
    const char *e = bytes.constData() + layout.endRecord;
    put16(end, 8, quint16(endField(count, Max16, le16(e + 8), zip64)));
    put16(end, 10, quint16(endField(count, Max16, le16(e + 10), zip64)));
    put32(end, 12, quint32(endField(directorySize, Max32, le32(e + 12), zip64)));
    put32(end, 16, quint32(endField(directory, Max32, le32(e + 16), zip64)));
    return out.write(end);
}

} // namespace

bool writePackage(const Package &source, const std::map<int, QByteArray> &replacements, QIODevice *out)
{
    const QByteArray &bytes = source.bytes();
    if (replacements.empty())
        return out->write(bytes) == bytes.size();

    ZipLayout layout;
    if (!readZipLayout(source, &layout))
        return false;
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
