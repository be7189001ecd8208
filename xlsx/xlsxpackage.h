#pragma once

// The zip container of a workbook, held in memory, and its entries by part name.

#include "zip/ziplayout.h"

#include "readerror.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace QXlsx {
namespace detail {

class Package
{
public:
    // Reads the zip's layout and indexes its entries by part name; false,
    // with the reason in *error, when it is no zip this reads, or when two
    // entries have the same part name.
    bool open(const QByteArray &bytes, ReadError *error);

    const QByteArray &bytes() const { return m_bytes; }
    const ZipLayout &layout() const { return m_layout; }
    int size() const { return int(m_layout.entries.size()); }
    const ZipEntryLayout &entry(int index) const { return m_layout.entries[size_t(index)]; }
    QString name(int index) const;
    // Index of the entry with this name (ASCII case ignored, as part names are,
    // and a backslash taken for '/'), or -1.
    int find(const QString &name) const;

private:
    QByteArray m_bytes;
    ZipLayout m_layout;
    QHash<QByteArray, int> m_index;
};

} // namespace detail
} // namespace QXlsx
