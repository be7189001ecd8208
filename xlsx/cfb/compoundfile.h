#pragma once

// The compound file an .xls workbook is stored in: a header, sectors chained
// by a FAT (found through the DIFAT), small streams packed into a mini stream,
// and a directory of named streams. Read from bytes held whole in memory.

#include "readerror.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace QXlsx {
namespace detail {

class CompoundFile
{
public:
    // Reads the header, the FAT, the mini FAT, the directory and the mini
    // stream of bytes, which the object keeps; false, with the reason in
    // *error, when bytes are no compound file or a damaged one.
    bool open(const QByteArray &bytes, ReadError *error);

    // The directory entries of the streams right in the root storage.
    std::vector<int> rootStreams() const;
    // The entry of the stream called name (upper and lower case alike) right
    // in the root storage; -1 when there is none.
    int findStream(const QString &name) const;
    QString name(int entry) const;
    // The length the directory gives the stream at entry.
    qint64 streamSize(int entry) const;

    // The stream at entry read whole; false, with the reason in *error, when
    // its sectors do not hold it.
    bool readStream(int entry, QByteArray *out, ReadError *error) const;

private:
    quint32 u32(qint64 offset) const;
    qint64 sectorOffset(quint32 sector) const;
    bool readFat(ReadError *error);
    // Where in the file the FAT or mini FAT entry index is; tableSectors are
    // the sectors that table was read from.
    qint64 tableEntryOffset(const std::vector<quint32> &tableSectors, quint32 index) const;
    // The chain of table (the FAT, or the mini FAT when mini) from first,
    // which the file names at firstAt: length bytes of it, or all of it when
    // length is negative, and the sectors it went through.
    bool readChain(const std::vector<quint32> &table, const std::vector<quint32> &tableSectors, quint32 first,
                   qint64 firstAt, qint64 length, bool mini, QByteArray *out, std::vector<quint32> *sectors,
                   ReadError *error) const;
    // Where in the file a field of a directory entry is.
    qint64 entryOffset(int entry, int field) const;
    quint16 entryU16(int entry, int field) const;
    quint32 entryU32(int entry, int field) const;

    QByteArray m_bytes;
    int m_major = 0;
    int m_sectorShift = 9;
    qint64 m_miniCutoff = 4096;
    std::vector<quint32> m_fat;
    std::vector<quint32> m_fatSectors; // where each FAT sector is, for errors
    std::vector<quint32> m_miniFat;
    std::vector<quint32> m_miniFatSectors;
    QByteArray m_directory;
    std::vector<quint32> m_directorySectors;
    QByteArray m_miniStream;
};

} // namespace detail
} // namespace QXlsx
