#include "xlsxpackage.h"

namespace QXlsx {
namespace detail {

namespace {

// Part names ignore ASCII case; some writers put backslashes where '/' belongs.
QByteArray partKey(QByteArray name)
{
    for (char &c : name) {
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
        else if (c == '\\')
            c = '/';
    }
    return name;
}

} // namespace

bool Package::open(const QByteArray &bytes, ReadError *error)
{
    m_bytes = bytes;
    m_index.clear();
    if (!readZipLayout(m_bytes, &m_layout, error))
        return false;
    m_index.reserve(size());
    for (int i = 0; i < size(); ++i) {
        // Readers differ on which of two such entries they take (the first, the
        // last), so neither is taken.
        const QByteArray key = partKey(entry(i).record.name);
        if (m_index.contains(key)) {
            setReadError(error, ReadError::at(ReadError::DamagedZip, name(i), entry(i).central));
            return false;
        }
        m_index.insert(key, i);
    }
    return true;
}

QString Package::name(int index) const
{
    return QString::fromUtf8(entry(index).record.name);
}

int Package::find(const QString &name) const
{
    return m_index.value(partKey(name.toUtf8()), -1);
}

} // namespace detail
} // namespace QXlsx
