#include "zip/zipentryreader.h"

#include "core/limits.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace QXlsx {
namespace detail {

using namespace zip;

namespace {

constexpr qint64 ChunkSize = 64 * 1024;

} // namespace

EntryReader::EntryReader(const QByteArray &bytes, const ZipEntryLayout &entry, qint64 cap)
    : m_bytes(bytes), m_entry(entry), m_cap(cap)
{
    const quint16 method = entry.record.method();
    // Parts are never encrypted in a workbook; such an entry cannot be read.
    if ((entry.record.flags() | entry.localFlags) & (EncryptedFlag | StrongEncryptionFlag | MaskedHeadersFlag)
        || method == AesEncrypted) {
        fail(Encrypted, entry.local);
    } else if (method == Stored) {
        if (entry.compressed != entry.uncompressed)
            fail(Damaged, entry.local);
    } else if (method != Deflated) {
        fail(Unsupported, entry.local);
    } else {
        m_z.reset(new z_stream_s {});
        const int result = inflateInit2(m_z.get(), -MAX_WBITS);
        if (result != Z_OK) {
            m_z.reset();
            fail(result == Z_MEM_ERROR ? OutOfMemory : Damaged, entry.local);
        }
    }
}

EntryReader::~EntryReader()
{
    if (m_z)
        inflateEnd(m_z.get());
}

bool EntryReader::fail(Failure failure, qint64 offset)
{
    m_failure = failure;
    m_failureOffset = offset;
    return false;
}

// Up to room bytes of the entry's data into out; 0 at its end, -1 on failure.
qint64 EntryReader::produce(char *out, qint64 room)
{
    const char *stored = m_bytes.constData() + m_entry.data;
    if (!m_z) {
        const qint64 n = qint64(std::min(m_entry.compressed - m_read, quint64(room)));
        std::memcpy(out, stored + m_read, size_t(n));
        m_read += quint64(n);
        return n;
    }
    z_stream_s &z = *m_z;
    qint64 produced = 0;
    while (produced < room && !m_streamEnded) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(stored + m_read));
        z.avail_in = uInt(std::min(m_entry.compressed - m_read, quint64(1) << 30));
        z.next_out = reinterpret_cast<Bytef *>(out + produced);
        z.avail_out = uInt(room - produced);
        const uInt in = z.avail_in;
        const uInt space = z.avail_out;
        const int result = inflate(&z, Z_NO_FLUSH);
        m_read += in - z.avail_in;
        produced += space - z.avail_out;
        if (result == Z_STREAM_END) {
            m_streamEnded = true;
        } else if (result != Z_OK) { // Z_BUF_ERROR here: the stored bytes ran out first
            fail(result == Z_MEM_ERROR ? OutOfMemory : Damaged, m_entry.data + qint64(m_read));
            return -1;
        }
    }
    return produced;
}

// At the end of the data: all stored bytes taken, and the size and CRC the
// central record gives.
bool EntryReader::finish()
{
    m_done = true;
    if (m_read != m_entry.compressed || quint64(m_inflated) != m_entry.uncompressed || m_crc != m_entry.record.crc())
        return fail(Damaged, m_entry.local);
    return false;
}

bool EntryReader::next(QByteArray *chunk)
{
    if (failed() || m_done)
        return false;
    chunk->resize(int(ChunkSize));
    const qint64 n = produce(chunk->data(), ChunkSize);
    if (n < 0)
        return false;
    if (n == 0)
        return finish();
    m_inflated += n;
    m_crc = quint32(crc32(m_crc, reinterpret_cast<const Bytef *>(chunk->constData()), uInt(n)));
    if (m_inflated > m_cap)
        return fail(PastCap, m_entry.local);
    if (m_inflated > limits::InflateRatioFrom && quint64(m_inflated) > quint64(limits::InflateRatio) * m_entry.compressed)
        return fail(PastRatio, m_entry.local);
    chunk->resize(int(n));
    return true;
}

} // namespace detail
} // namespace QXlsx
