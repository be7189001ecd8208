#pragma once

// Numbers as the file formats store them: little-endian, at any alignment.
// The caller has checked that the bytes are there.

#include <QtEndian>
#include <QtGlobal>

#include <cstring>

namespace QXlsx {
namespace detail {

inline quint16 le16(const void *p)
{
    return qFromLittleEndian<quint16>(p);
}

inline quint32 le32(const void *p)
{
    return qFromLittleEndian<quint32>(p);
}

inline quint64 le64(const void *p)
{
    return qFromLittleEndian<quint64>(p);
}

// An IEEE 754 double from its bits.
inline double doubleFromBits(quint64 bits)
{
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

} // namespace detail
} // namespace QXlsx
