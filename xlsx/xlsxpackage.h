#pragma once

// The zip container of a workbook, held in memory.

#include <QBuffer>
#include <QByteArray>
#include <QHash>
#include <QString>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <map>
#include <memory>
#include <vector>

class QIODevice;

namespace QXlsx {
namespace detail {

// The zip reader seeks to whatever offsets a damaged file holds; a seek
// outside the data fails here without QBuffer's warning on stderr.
class QuietBuffer : public QBuffer
{
public:
    bool seek(qint64 pos) override;
};

struct PackageEntry
{
    QuaZipFileInfo64 info;
    unz64_file_pos pos {};
};

class Package
{
public:
    Package();
    ~Package();
    Package(const Package &) = delete;
    Package &operator=(const Package &) = delete;

    // Lists the entries of the zip in bytes; false when it is not a usable zip.
    bool open(const QByteArray &bytes);

    const QByteArray &bytes() const { return m_bytes; }
    const std::vector<PackageEntry> &entries() const { return m_entries; }
    // Index of the entry with this name (ASCII case ignored, as part names are,
    // and a backslash taken for '/'), or -1.
    int find(const QString &name) const;

    // Opens entry index on file, inflating or raw.
    bool openEntry(int index, QuaZipFile *file, bool raw, int *method = nullptr, int *level = nullptr);

private:
    QByteArray m_bytes;
    QuietBuffer m_buffer;
    QuaZip m_zip;
    std::vector<PackageEntry> m_entries;
    QHash<QString, int> m_index;
};

// Inflates one entry chunk by chunk, failing once more than cap bytes come out
// (the bytes actually inflated are counted; the sizes in the headers are not trusted).
class EntryReader
{
public:
    EntryReader(Package &package, int index, qint64 cap);
    ~EntryReader();

    // Next chunk into *chunk; false at the end of the entry or on failure.
    bool next(QByteArray *chunk);
    bool failed() const { return m_failed; }
    bool atEnd() const { return m_done; }
    qint64 inflated() const { return m_inflated; }

private:
    void finish();

    QuaZipFile m_file;
    qint64 m_cap;
    qint64 m_inflated = 0;
    bool m_open = false;
    bool m_failed = false;
    bool m_done = false;
};

} // namespace detail
} // namespace QXlsx
