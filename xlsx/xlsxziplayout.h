#pragma once

// Where the records of a zip lie in its bytes, so that they can be copied as
// they are. Every offset and length is checked against the bytes.

#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace QXlsx {
namespace detail {

class Package;

constexpr quint32 Max32 = 0xffffffffu;
constexpr quint16 Max16 = 0xffffu;
constexpr quint16 Zip64ExtraId = 0x0001;
constexpr int LocalHeaderSize = 30; // before the name and extra field
constexpr quint16 DescriptorFlag = 0x0008; // a data descriptor follows the data

// Offset of the end-of-central-directory record that, with its comment, ends
// bytes; -1 when there is none (a zip cut short anywhere loses it).
qint64 findEndRecord(const QByteArray &bytes);

// Little-endian fields at p.
quint16 le16(const char *p);
quint32 le32(const char *p);
quint64 le64(const char *p);

// The block with this id in an extra field: its data's offset in extra and its
// length, or false when there is none. A malformed tail ends the search.
bool findExtraBlock(const QByteArray &extra, quint16 id, int *data, int *length);

// A central-directory record taken apart; put back together unchanged it gives
// the same bytes.
struct CentralRecord
{
    // The 46 fixed bytes, as stored (the sizes and offset may be zip64 markers).
    QByteArray fixed;
    QByteArray name;
    QByteArray extra;
    QByteArray comment;

    quint16 flags() const { return le16(fixed.constData() + 8); }
    quint16 method() const { return le16(fixed.constData() + 10); }
    quint32 crc() const { return le32(fixed.constData() + 16); }
    quint16 internalAttributes() const { return le16(fixed.constData() + 36); }
    quint32 externalAttributes() const { return le32(fixed.constData() + 38); }

    // The fields a zip64 extra block may hold, in the order it holds them.
    enum Field { Uncompressed, Compressed, LocalOffset, DiskStart };
    // Whether the fixed field holds the marker that sends the reader to the block.
    bool marked(Field field) const;
    // Where in extra the block holds the field, or -1 (not marked, block missing or short).
    int zip64Position(Field field) const;
    // The field's real value; false when it is marked but the block lacks it.
    bool value(Field field, quint64 *out) const;

    QByteArray bytes() const { return fixed + name + extra + comment; }
};

struct ZipEntryLayout
{
    CentralRecord record;
    qint64 local = 0; // the local header
    qint64 end = 0; // one past the compressed data and the data descriptor, if any
};

struct ZipLayout
{
    std::vector<ZipEntryLayout> entries; // in central-directory order, as Package::entries()
    qint64 zip64Record = -1; // the zip64 end record, when there is one
    qint64 zip64RecordLength = 0;
    qint64 endRecord = 0; // the end record; it and its comment run to the end
};

// Reads the layout of package's bytes; false when an offset or length does not
// fit, entries overlap, or an entry differs from what package lists.
bool readZipLayout(const Package &package, ZipLayout *layout);

} // namespace detail
} // namespace QXlsx
