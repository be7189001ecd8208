#pragma once

// Reading the parts of a package: each entry inflated as its parser reads it,
// all of them charged to one budget, the first reason a part did not read kept.

#include "core/readbudget.h"
#include "readerror.h"
#include "xlsx/package.h"
#include "xml/xmlreader.h"
#include "zip/zipentryreader.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>

namespace QXlsx {
namespace detail {

// Why an entry did not read; partLimit when the cap it ran into was the
// part's own rather than what was left of all the inflated bytes.
ReadError entryError(const EntryReader &entry, ReadError::Limit partLimit, const QString &part);

// The entry of a part name, also when the name is percent-encoded; -1 if none.
int findPart(const Package &package, const QString &name);

// Entry inflated whole, failing past cap bytes.
bool inflatePart(const Package &package, int entry, qint64 cap, QByteArray *xml);

// Runs parsers over the entries of a package, charging what they inflate to
// one budget, and keeps the first reason a part did not read.
class PartReader
{
public:
    PartReader(const Package &package, ReadError *error) : m_package(package), m_error(error) {}

    ReadBudget &budget() { return m_budget; }

    // Parses the part at index, inflating at most what partLimit (PartBytes,
    // OtherPartBytes) allows and what is left of all the inflated bytes;
    // false, with the reason kept, when it does not read.
    template<typename Parse>
    bool read(int index, ReadError::Limit partLimit, Parse parse)
    {
        ReadError why;
        if (attempt(index, partLimit, parse, &why))
            return true;
        fail(why);
        return false;
    }

    // The same for a part the workbook can do without: one that does not
    // read is passed over (false), unless what it inflated overdrew the
    // budget of the whole read, which ends the read as for any part
    // (failed() tells).
    template<typename Parse>
    bool readOptional(int index, ReadError::Limit partLimit, Parse parse)
    {
        ReadError why;
        if (attempt(index, partLimit, parse, &why))
            return true;
        if (why.limit == ReadError::InflatedBytes || why.kind == ReadError::OutOfMemory || m_budget.exceeded())
            fail(why);
        return false;
    }

    bool failed() const { return m_failed; }

    // A part the package must have is not there; false.
    bool missing(const QString &part)
    {
        fail(ReadError::at(ReadError::NotWorkbook, part));
        return false;
    }

private:
    template<typename Parse>
    bool attempt(int index, ReadError::Limit partLimit, Parse parse, ReadError *why)
    {
        const qint64 cap = ReadError::limitValue(partLimit);
        const qint64 left = ReadError::limitValue(ReadError::InflatedBytes) - m_inflated;
        EntryReader entry(m_package.bytes(), m_package.entry(index), std::min(cap, left));
        XmlReader reader(&entry);
        const bool ok = parse(reader);
        m_inflated += entry.inflated();
        if (ok && !entry.failed() && m_budget.charge(ReadError::InflatedBytes, entry.inflated()))
            return true;
        const QString part = m_package.name(index);
        if (m_budget.exceeded())
            *why = m_budget.exceeded();
        else if (entry.failed())
            *why = entryError(entry, cap <= left ? partLimit : ReadError::InflatedBytes, part);
        else if (reader.limitReached() != ReadError::NoLimit)
            *why = ReadError::reached(reader.limitReached());
        else
            *why = ReadError::at(ReadError::DamagedXml, part, reader.offset());
        if (why->part.isEmpty())
            why->part = part;
        return false;
    }

    void fail(const ReadError &e)
    {
        m_failed = true;
        setReadError(m_error, e);
    }

    const Package &m_package;
    ReadError *m_error;
    ReadBudget m_budget;
    qint64 m_inflated = 0;
    bool m_failed = false;
};

} // namespace detail
} // namespace QXlsx
