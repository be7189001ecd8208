#pragma once

// Where the records of a zip lie in its bytes: the index the entries are read
// through, and what a save copies as it is. Every offset and length is
// checked against the bytes, and each local header against its central record.

#include "zip/zipformat.h"

#include "readerror.h"

#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace QXlsx {
namespace detail {

// Offset of the end-of-central-directory record that, with its comment, ends
// bytes; -1 when there is none (a zip cut short anywhere loses it).
qint64 findEndRecord(const QByteArray &bytes);

// The block with this id in an extra field: its data's offset in extra and its
// length, or false when there is none. A malformed tail ends the search.
bool findExtraBlock(const QByteArray &extra, quint16 id, int *data, int *length);

// A central-directory record taken apart; put back together unchanged it gives
// the same bytes.
struct CentralRecord
{
    // The fixed bytes, as stored (the sizes and offset may be zip64 markers).
    QByteArray fixed;
    QByteArray name;
    QByteArray extra;
    QByteArray comment;

    quint16 flags() const { return le16(fixed.constData() + zip::central::Flags); }
    quint16 method() const { return le16(fixed.constData() + zip::central::Method); }
    quint32 crc() const { return le32(fixed.constData() + zip::central::Crc); }

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
    qint64 central = 0; // the central record
    qint64 local = 0; // the local header
    quint16 localFlags = 0;
    qint64 data = 0; // the stored data
    quint64 compressed = 0; // its length
    quint64 uncompressed = 0; // and what it inflates to, as the central record says
    qint64 end = 0; // one past the stored data and the data descriptor, if any
};

struct ZipLayout
{
    std::vector<ZipEntryLayout> entries; // in central-directory order
    qint64 zip64Record = -1; // the zip64 end record, when there is one
    qint64 zip64RecordLength = 0;
    qint64 endRecord = 0; // the end record; it and its comment run to the end
};

// Reads the layout of a whole zip in bytes. Refuses (DamagedZip, with the entry
// and the offset) a zip split over disks or with bytes before it, records that
// run past their bounds, a local header that disagrees with its central record,
// a data descriptor that disagrees with it, and entries that share bytes;
// more than limits::ZipEntries entries are LimitReached.
bool readZipLayout(const QByteArray &bytes, ZipLayout *layout, ReadError *error);

} // namespace detail
} // namespace QXlsx
