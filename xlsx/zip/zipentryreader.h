#pragma once

// Reads the data of one zip entry, a chunk at a time, so that a part is parsed
// as it is inflated and never needs to be held whole.

#include "core/chunksource.h"
#include "zip/ziplayout.h"

#include <QByteArray>
#include <QtGlobal>

#include <memory>

struct z_stream_s;

namespace QXlsx {
namespace detail {

// Stored entries are read as they are, deflated ones inflated raw. Fails once
// more than cap bytes come out, or more than limits::InflateRatio times the
// stored bytes past limits::InflateRatioFrom (the bytes that come out are
// counted; the sizes in the headers are not trusted for that). At the end of
// the data the CRC-32 and both sizes must be the central record's.
class EntryReader : public ChunkSource
{
public:
    enum Failure {
        NoFailure,
        Damaged, // data that does not inflate, or does not end as the headers say
        Encrypted,
        Unsupported, // a compression method other than stored and deflated
        PastCap,
        PastRatio,
        OutOfMemory, // zlib could not have the memory it needs
    };

    EntryReader(const QByteArray &bytes, const ZipEntryLayout &entry, qint64 cap);
    ~EntryReader() override;
    EntryReader(const EntryReader &) = delete;
    EntryReader &operator=(const EntryReader &) = delete;

    // Next chunk into *chunk; false at the end of the entry or on failure.
    bool next(QByteArray *chunk) override;
    bool failed() const override { return m_failure != NoFailure; }
    Failure failure() const { return m_failure; }
    // Where in the zip the failure was found: the data for a stream that does
    // not inflate, else the entry's local header.
    qint64 failureOffset() const { return m_failureOffset; }
    qint64 inflated() const { return m_inflated; }
    quint16 method() const { return m_entry.record.method(); }

private:
    bool fail(Failure failure, qint64 offset);
    qint64 produce(char *out, qint64 room);
    bool finish();

    const QByteArray &m_bytes;
    const ZipEntryLayout &m_entry;
    qint64 m_cap;
    std::unique_ptr<z_stream_s> m_z; // while inflating
    bool m_streamEnded = false;
    bool m_done = false;
    quint64 m_read = 0; // stored bytes taken
    qint64 m_inflated = 0;
    quint32 m_crc = 0;
    Failure m_failure = NoFailure;
    qint64 m_failureOffset = -1;
};

} // namespace detail
} // namespace QXlsx
