#pragma once

// The records of a zip as this program reads and writes them: signatures,
// sizes, field offsets and flags, named once for the layout reader, the entry
// reader and the writer. Every number is little-endian.

#include "core/littleendian.h"

#include <QtGlobal>

namespace QXlsx {
namespace detail {
namespace zip {

// A 32-bit size or offset, or a 16-bit count, at its largest: the value is
// then in a zip64 field instead.
constexpr quint32 Max32 = 0xffffffffu;
constexpr quint16 Max16 = 0xffffu;

// Compression methods.
constexpr quint16 Stored = 0;
constexpr quint16 Deflated = 8;
constexpr quint16 AesEncrypted = 99;

// General purpose flags.
constexpr quint16 EncryptedFlag = 0x0001;
constexpr quint16 DescriptorFlag = 0x0008; // a data descriptor follows the data
constexpr quint16 StrongEncryptionFlag = 0x0040;
constexpr quint16 Utf8Flag = 0x0800; // the name is UTF-8
constexpr quint16 MaskedHeadersFlag = 0x2000;

// Versions needed to extract.
constexpr quint16 DeflateVersion = 20;
constexpr quint16 Zip64Version = 45;

// A block of an extra field: its id, the length of its data, then the data.
// The block with Zip64ExtraId holds the zip64 values of a record.
namespace block {
constexpr int Id = 0;
constexpr int Length = 2;
constexpr int Size = 4;
} // namespace block
constexpr quint16 Zip64ExtraId = 0x0001;

// Local file header, before the name and extra field.
namespace local {
constexpr char Signature[] = "PK\3\4";
constexpr int VersionNeeded = 4;
constexpr int Flags = 6;
constexpr int Method = 8;
constexpr int Crc = 14;
constexpr int CompressedSize = 18;
constexpr int UncompressedSize = 22;
constexpr int NameLength = 26;
constexpr int ExtraLength = 28;
constexpr int Size = 30;
} // namespace local

// Central directory record, before the name, extra field and comment.
namespace central {
constexpr char Signature[] = "PK\1\2";
constexpr int VersionMadeBy = 4;
constexpr int VersionNeeded = 6;
constexpr int Flags = 8;
constexpr int Method = 10;
constexpr int Crc = 16;
constexpr int CompressedSize = 20;
constexpr int UncompressedSize = 24;
constexpr int NameLength = 28;
constexpr int ExtraLength = 30;
constexpr int CommentLength = 32;
constexpr int DiskStart = 34;
constexpr int LocalOffset = 42;
constexpr int Size = 46;
} // namespace central

// End of central directory record, before the comment.
namespace end {
constexpr char Signature[] = "PK\5\6";
constexpr int Disk = 4;
constexpr int DirectoryDisk = 6;
constexpr int DiskEntries = 8;
constexpr int Entries = 10;
constexpr int DirectorySize = 12;
constexpr int DirectoryOffset = 16;
constexpr int CommentLength = 20;
constexpr int Size = 22;
} // namespace end

// Zip64 end of central directory record; RecordSize counts the bytes after itself.
namespace end64 {
constexpr char Signature[] = "PK\6\6";
constexpr int RecordSize = 4;
constexpr int VersionMadeBy = 12;
constexpr int VersionNeeded = 14;
constexpr int Disk = 16;
constexpr int DirectoryDisk = 20;
constexpr int DiskEntries = 24;
constexpr int Entries = 32;
constexpr int DirectorySize = 40;
constexpr int DirectoryOffset = 48;
constexpr int Size = 56;
constexpr int Uncounted = 12; // the signature and RecordSize
} // namespace end64

// Zip64 end of central directory locator, right before the end record.
namespace locator {
constexpr char Signature[] = "PK\6\7";
constexpr int Disk = 4;
constexpr int End64Offset = 8;
constexpr int Disks = 16;
constexpr int Size = 20;
} // namespace locator

// Data descriptor: an optional signature, the CRC, then both sizes in 4 or
// (zip64) 8 bytes each.
namespace descriptor {
constexpr char Signature[] = "PK\7\x08";
} // namespace descriptor

} // namespace zip
} // namespace detail
} // namespace QXlsx
