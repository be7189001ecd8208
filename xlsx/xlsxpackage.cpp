#include "xlsxpackage.h"

#include "xlsxziplayout.h"

#include "core/limits.h"

namespace QXlsx {
namespace detail {

namespace {

constexpr qint64 ChunkSize = 64 * 1024;

// Part names ignore ASCII case; some writers put backslashes where '/' belongs.
QString partKey(const QString &name)
{
    QString key = name;
    for (QChar &c : key) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
        else if (c == QLatin1Char('\\'))
            c = QLatin1Char('/');
    }
    return key;
}

} // namespace

bool QuietBuffer::seek(qint64 pos)
{
    if (pos < 0 || pos > size())
        return false;
    return QBuffer::seek(pos);
}

Package::Package() : m_zip(&m_buffer) {}

Package::~Package()
{
    if (m_zip.isOpen())
        m_zip.close();
}

bool Package::open(const QByteArray &bytes)
{
    if (findEndRecord(bytes) < 0)
        return false;
    m_bytes = bytes;
    m_buffer.setData(m_bytes);
    if (!m_zip.open(QuaZip::mdUnzip))
        return false;
    if (m_zip.getEntriesCount() < 0 || m_zip.getEntriesCount() > limits::ZipEntries)
        return false;

    for (bool more = m_zip.goToFirstFile(); more; more = m_zip.goToNextFile()) {
        if (int(m_entries.size()) >= limits::ZipEntries)
            return false;
        PackageEntry entry;
        if (!m_zip.getCurrentFileInfo(&entry.info))
            return false;
        if (unzGetFilePos64(m_zip.getUnzFile(), &entry.pos) != UNZ_OK)
            return false;
        const QString key = partKey(entry.info.name);
        if (!m_index.contains(key))
            m_index.insert(key, int(m_entries.size()));
        m_entries.push_back(std::move(entry));
    }
    if (m_zip.getZipError() != UNZ_OK)
        return false;
    // Leaves QuaZip with a current file, so entries can then be reached by position.
    return m_entries.empty() || m_zip.goToFirstFile();
}

int Package::find(const QString &name) const
{
    return m_index.value(partKey(name), -1);
}

bool Package::openEntry(int index, QuaZipFile *file, bool raw, int *method, int *level)
{
    if (index < 0 || index >= int(m_entries.size()))
        return false;
    if (unzGoToFilePos64(m_zip.getUnzFile(), &m_entries[size_t(index)].pos) != UNZ_OK)
        return false;
    file->setZip(&m_zip);
    int unusedMethod = 0;
    return file->open(QIODevice::ReadOnly, method ? method : &unusedMethod, level, raw);
}

EntryReader::EntryReader(Package &package, int index, qint64 cap) : m_cap(cap)
{
    const auto &entries = package.entries();
    // Parts are never encrypted in a workbook; such an entry cannot be read.
    if (index < 0 || index >= int(entries.size()) || entries[size_t(index)].info.isEncrypted()
        || !package.openEntry(index, &m_file, false)) {
        m_failed = true;
        return;
    }
    m_open = true;
}

EntryReader::~EntryReader()
{
    if (m_open)
        m_file.close();
}

void EntryReader::finish()
{
    if (m_open) {
        m_file.close();
        m_open = false;
        // The CRC is checked on close.
        if (m_file.getZipError() != UNZ_OK)
            m_failed = true;
    }
    m_done = true;
}

bool EntryReader::next(QByteArray *chunk)
{
    if (m_failed || m_done)
        return false;
    chunk->resize(int(ChunkSize));
    const qint64 n = m_file.read(chunk->data(), ChunkSize);
    if (n < 0) {
        m_failed = true;
        finish();
        return false;
    }
    if (n == 0) {
        finish();
        return false;
    }
    m_inflated += n;
    if (m_inflated > m_cap) {
        m_failed = true;
        finish();
        return false;
    }
    chunk->resize(int(n));
    return true;
}

} // namespace detail
} // namespace QXlsx
