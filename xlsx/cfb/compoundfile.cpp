#include "cfb/compoundfile.h"

#include "core/littleendian.h"

#include <algorithm>

namespace QXlsx {
namespace detail {

namespace {

const char Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr int HeaderBytes = 512;
constexpr int HeaderDifatEntries = 109;
constexpr int EntryBytes = 128;
constexpr int MiniSectorShift = 6;
constexpr quint32 EndOfChain = 0xFFFFFFFE;
constexpr quint32 FreeSector = 0xFFFFFFFF;
constexpr quint32 NoEntry = 0xFFFFFFFF;

// Byte offsets of the header fields.
enum HeaderField {
    MajorVersion = 26,
    ByteOrder = 28,
    SectorShift = 30,
    MiniShift = 32,
    FatSectorCount = 44,
    FirstDirectorySector = 48,
    MiniCutoff = 56,
    FirstMiniFatSector = 60,
    FirstDifatSector = 68,
    Difat = 76,
};

// Byte offsets of the fields of a directory entry.
enum EntryField {
    NameLength = 64,
    ObjectType = 66,
    LeftSibling = 68,
    RightSibling = 72,
    Child = 76,
    StartSector = 116,
    StreamSize = 120,
};

enum ObjectKind { StreamObject = 2, RootObject = 5 };

bool damaged(ReadError *error, qint64 offset)
{
    setReadError(error, ReadError::at(ReadError::DamagedCompoundFile, QString(), offset));
    return false;
}

} // namespace

quint32 CompoundFile::u32(qint64 offset) const
{
    return le32(m_bytes.constData() + offset);
}

qint64 CompoundFile::sectorOffset(quint32 sector) const
{
    return (qint64(sector) + 1) << m_sectorShift;
}

bool CompoundFile::open(const QByteArray &bytes, ReadError *error)
{
    m_bytes = bytes;
    if (!bytes.startsWith(QByteArray::fromRawData(Signature, 8))) {
        setReadError(error, ReadError::at(ReadError::NotWorkbook));
        return false;
    }
    if (bytes.size() < HeaderBytes)
        return damaged(error, bytes.size());
    const auto u16 = [&](int offset) { return le16(bytes.constData() + offset); };
    m_major = u16(MajorVersion);
    if (m_major != 3 && m_major != 4)
        return damaged(error, MajorVersion);
    if (u16(ByteOrder) != 0xFFFE)
        return damaged(error, ByteOrder);
    // Version 3 has 512-byte sectors and version 4 4,096-byte ones; either
    // size is taken from either version.
    m_sectorShift = u16(SectorShift);
    if (m_sectorShift != 9 && m_sectorShift != 12)
        return damaged(error, SectorShift);
    if (u16(MiniShift) != MiniSectorShift)
        return damaged(error, MiniShift);
    m_miniCutoff = u32(MiniCutoff);

    if (!readFat(error))
        return false;
    std::vector<quint32> sectors;
    if (!readChain(m_fat, m_fatSectors, u32(FirstDirectorySector), FirstDirectorySector, -1, false, &m_directory,
                   &m_directorySectors, error))
        return false;
    if (m_directory.size() < EntryBytes || m_directory.at(ObjectType) != RootObject)
        return damaged(error, sectorOffset(u32(FirstDirectorySector)) + ObjectType);

    const quint32 firstMiniFat = u32(FirstMiniFatSector);
    QByteArray miniFat;
    if (firstMiniFat != EndOfChain
        && !readChain(m_fat, m_fatSectors, firstMiniFat, FirstMiniFatSector, -1, false, &miniFat, &m_miniFatSectors, error))
        return false;
    m_miniFat.resize(size_t(miniFat.size() / 4));
    for (size_t i = 0; i < m_miniFat.size(); ++i)
        m_miniFat[i] = le32(miniFat.constData() + 4 * i);

    // The root entry's stream is the mini stream.
    return readChain(m_fat, m_fatSectors, entryU32(0, StartSector), entryOffset(0, StartSector), streamSize(0), false,
                     &m_miniStream, &sectors, error);
}

bool CompoundFile::readFat(ReadError *error)
{
    const qint64 sectorSize = qint64(1) << m_sectorShift;
    const quint32 perSector = quint32(sectorSize / 4);
    const quint32 count = u32(FatSectorCount);
    // Every FAT sector is a sector of the file.
    if (qint64(count) * sectorSize > m_bytes.size())
        return damaged(error, FatSectorCount);

    // Where each FAT sector is, and where the file says so.
    std::vector<qint64> namedAt;
    m_fatSectors.reserve(count);
    namedAt.reserve(count);
    for (int i = 0; i < HeaderDifatEntries && m_fatSectors.size() < count; ++i) {
        m_fatSectors.push_back(u32(Difat + 4 * i));
        namedAt.push_back(Difat + 4 * i);
    }
    const qint64 fileSectors = m_bytes.size() >> m_sectorShift;
    std::vector<bool> seen(size_t(fileSectors), false);
    quint32 next = u32(FirstDifatSector);
    qint64 nextAt = FirstDifatSector;
    while (m_fatSectors.size() < count) {
        if (next >= fileSectors || seen[next] || sectorOffset(next) + sectorSize > m_bytes.size())
            return damaged(error, nextAt);
        seen[next] = true;
        const qint64 at = sectorOffset(next);
        for (quint32 k = 0; k + 1 < perSector && m_fatSectors.size() < count; ++k) {
            m_fatSectors.push_back(u32(at + 4 * k));
            namedAt.push_back(at + 4 * k);
        }
        nextAt = at + sectorSize - 4;
        next = u32(nextAt);
    }

    // A file cut short inside its last sector (some writers leave it so)
    // still has the FAT entries it holds; the rest are free.
    m_fat.assign(size_t(count) * perSector, FreeSector);
    for (size_t i = 0; i < m_fatSectors.size(); ++i) {
        const qint64 at = m_fatSectors[i] < fileSectors ? sectorOffset(m_fatSectors[i]) : m_bytes.size();
        if (at >= m_bytes.size())
            return damaged(error, namedAt[i]);
        for (quint32 k = 0; k < perSector && at + 4 * k + 4 <= m_bytes.size(); ++k)
            m_fat[i * perSector + k] = u32(at + 4 * k);
    }
    return true;
}

qint64 CompoundFile::tableEntryOffset(const std::vector<quint32> &tableSectors, quint32 index) const
{
    const quint32 perSector = quint32((qint64(1) << m_sectorShift) / 4);
    return sectorOffset(tableSectors[index / perSector]) + 4 * (index % perSector);
}

bool CompoundFile::readChain(const std::vector<quint32> &table, const std::vector<quint32> &tableSectors,
                             quint32 first, qint64 firstAt, qint64 length, bool mini, QByteArray *out,
                             std::vector<quint32> *sectors, ReadError *error) const
{
    const QByteArray &source = mini ? m_miniStream : m_bytes;
    const qint64 sectorSize = qint64(1) << (mini ? MiniSectorShift : m_sectorShift);
    // A stream longer than the bytes it could be in is never allocated.
    if (length > source.size())
        return damaged(error, firstAt);
    out->clear();
    sectors->clear();
    if (length >= 0)
        out->reserve(int(length));
    std::vector<bool> visited(table.size(), false);
    qint64 left = length;
    quint32 sector = first;
    qint64 sectorAt = firstAt; // where the chain names sector
    // A chain of unknown length runs to its end mark; one of a known length
    // may go on past it (some writers leave spare sectors).
    while (length < 0 ? sector != EndOfChain : left > 0) {
        if (sector >= table.size() || visited[sector])
            return damaged(error, sectorAt);
        visited[sector] = true;
        const qint64 at = mini ? qint64(sector) << MiniSectorShift : sectorOffset(sector);
        qint64 n = length < 0 ? sectorSize : std::min(left, sectorSize);
        // A table (the directory, the mini FAT) may lose the end of its last
        // sector with the end of the file; a stream's bytes must all be there.
        if (length < 0 && at < source.size() && at + n > source.size())
            n = source.size() - at;
        if (at + n > source.size())
            return damaged(error, mini ? sectorAt : std::min(at, qint64(source.size())));
        out->append(source.constData() + at, int(n));
        if (n < sectorSize && length < 0)
            out->append(QByteArray(int(sectorSize - n), '\0'));
        sectors->push_back(sector);
        left -= n;
        sectorAt = tableEntryOffset(tableSectors, sector);
        sector = table[sector];
    }
    return true;
}

qint64 CompoundFile::entryOffset(int entry, int field) const
{
    const qint64 at = qint64(entry) * EntryBytes + field;
    const qint64 sectorSize = qint64(1) << m_sectorShift;
    return sectorOffset(m_directorySectors[size_t(at / sectorSize)]) + at % sectorSize;
}

quint16 CompoundFile::entryU16(int entry, int field) const
{
    return le16(m_directory.constData() + qint64(entry) * EntryBytes + field);
}

quint32 CompoundFile::entryU32(int entry, int field) const
{
    return le32(m_directory.constData() + qint64(entry) * EntryBytes + field);
}

std::vector<int> CompoundFile::rootStreams() const
{
    // The entries of a storage form a tree through their siblings; walked
    // with a list of its own, each entry once however the links are set.
    const quint32 count = quint32(m_directory.size() / EntryBytes);
    std::vector<int> found;
    std::vector<bool> seen(count, false);
    std::vector<quint32> pending {entryU32(0, Child)};
    while (!pending.empty()) {
        const quint32 entry = pending.back();
        pending.pop_back();
        if (entry == NoEntry || entry >= count || seen[entry])
            continue;
        seen[entry] = true;
        if (m_directory.at(int(entry * EntryBytes + ObjectType)) == StreamObject)
            found.push_back(int(entry));
        pending.push_back(entryU32(int(entry), LeftSibling));
        pending.push_back(entryU32(int(entry), RightSibling));
    }
    std::sort(found.begin(), found.end());
    return found;
}

int CompoundFile::findStream(const QString &name) const
{
    for (const int entry : rootStreams()) {
        if (this->name(entry).compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return -1;
}

QString CompoundFile::name(int entry) const
{
    // The length counts the bytes of the name and its closing NUL.
    const int chars = std::min(int(entryU16(entry, NameLength)) / 2, 32) - 1;
    QString text(std::max(chars, 0), Qt::Uninitialized);
    for (int i = 0; i < text.size(); ++i)
        text[i] = QChar(entryU16(entry, 2 * i));
    return text;
}

qint64 CompoundFile::streamSize(int entry) const
{
    // Version 3 files use the low half only; some writers leave the high one unset.
    const quint64 size = le64(m_directory.constData() + qint64(entry) * EntryBytes + StreamSize);
    if (m_major == 3)
        return qint64(size & 0xFFFFFFFFu);
    return size > quint64(m_bytes.size()) ? m_bytes.size() + qint64(1) : qint64(size);
}

bool CompoundFile::readStream(int entry, QByteArray *out, ReadError *error) const
{
    const qint64 size = streamSize(entry);
    std::vector<quint32> sectors;
    if (size < m_miniCutoff)
        return readChain(m_miniFat, m_miniFatSectors, entryU32(entry, StartSector), entryOffset(entry, StartSector),
                         size, true, out, &sectors, error);
    return readChain(m_fat, m_fatSectors, entryU32(entry, StartSector), entryOffset(entry, StartSector), size, false,
                     out, &sectors, error);
}

} // namespace detail
} // namespace QXlsx
