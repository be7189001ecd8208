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

// Why an entry did not read; partCap when the cap it ran into was the part's
// own rather than what was left of all the inflated bytes.
ReadError entryError(const EntryReader &entry, bool partCap, const QString &part);

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

    template<typename Parse>
    bool read(int index, qint64 cap, Parse parse)
    {
        const qint64 left = ReadError::limitValue(ReadError::InflatedBytes) - m_inflated;
        EntryReader entry(m_package.bytes(), m_package.entry(index), std::min(cap, left));
        XmlReader reader(&entry);
        const bool ok = parse(reader);
        m_inflated += entry.inflated();
        if (ok && !entry.failed() && m_budget.charge(ReadError::InflatedBytes, entry.inflated()))
            return true;
        const QString part = m_package.name(index);
        if (m_budget.exceeded())
            fail(m_budget.exceeded(), part);
        else if (entry.failed())
            fail(entryError(entry, cap <= left, part));
        else
            fail(ReadError::at(ReadError::DamagedXml, part, reader.offset()));
        return false;
    }

    // A part the package must have is not there; false.
    bool missing(const QString &part)
    {
        fail(ReadError::at(ReadError::NotWorkbook, part));
        return false;
    }

private:
    void fail(ReadError e, const QString &part = QString())
    {
        if (e.part.isEmpty())
            e.part = part;
        setReadError(m_error, e);
    }

    const Package &m_package;
    ReadError *m_error;
    ReadBudget m_budget;
    qint64 m_inflated = 0;
};

} // namespace detail
} // namespace QXlsx
