#include "xlsx/partreader.h"

#include <QUrl>

namespace QXlsx {
namespace detail {

ReadError entryError(const EntryReader &entry, ReadError::Limit partLimit, const QString &part)
{
    switch (entry.failure()) {
    case EntryReader::PastCap:
        return ReadError::reached(partLimit, part);
    case EntryReader::PastRatio:
        return ReadError::reached(ReadError::InflateRatio, part);
    case EntryReader::Encrypted:
        return ReadError::at(ReadError::Encrypted, part, entry.failureOffset());
    case EntryReader::Unsupported: {
        ReadError e = ReadError::at(ReadError::UnsupportedMethod, part, entry.failureOffset());
        e.detail = QString::number(entry.method());
        return e;
    }
    case EntryReader::OutOfMemory:
        return ReadError::at(ReadError::OutOfMemory, part, entry.failureOffset());
    case EntryReader::NoFailure:
    case EntryReader::Damaged:
        break;
    }
    return ReadError::at(ReadError::DamagedZip, part, entry.failureOffset());
}

int findPart(const Package &package, const QString &name)
{
    if (name.isEmpty())
        return -1;
    const int index = package.find(name);
    if (index >= 0 || !name.contains(QLatin1Char('%')))
        return index;
    return package.find(QUrl::fromPercentEncoding(name.toUtf8()));
}

bool inflatePart(const Package &package, int entry, qint64 cap, QByteArray *xml)
{
    EntryReader reader(package.bytes(), package.entry(entry), cap);
    QByteArray chunk;
    xml->clear();
    while (reader.next(&chunk))
        xml->append(chunk);
    return !reader.failed();
}

} // namespace detail
} // namespace QXlsx
