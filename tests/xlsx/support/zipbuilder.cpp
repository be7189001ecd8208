#include "zipbuilder.h"

#include <zlib.h>

#include <algorithm>

namespace xlsxtest {

quint32 crcOf(const QByteArray &data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

QByteArray deflated(const QByteArray &data, int level)
{
    z_stream z {};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

ZipBuilder::ZipBuilder() : m_out(&m_bytes, QIODevice::WriteOnly), m_directoryOut(&m_directory, QIODevice::WriteOnly)
{
    m_out.setByteOrder(QDataStream::LittleEndian);
    m_directoryOut.setByteOrder(QDataStream::LittleEndian);
}

void ZipBuilder::add(const QByteArray &name, quint16 method, quint32 crc, quint64 size, const QByteArray &stored, bool offsetInZip64)
{
    const quint32 max = 0xffffffffu;
    const quint64 offset = quint64(m_bytes.size());
    const bool large = size >= max;
    const quint16 flags = std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; }) ? 0 : 0x0800;
    m_locals << qint64(offset);
    m_centrals << qint64(m_directory.size());
    m_out << quint32(0x04034b50) << quint16(45) << flags << method << quint16(0x6aa0) << quint16(0x585d) << crc
          << quint32(large ? max : quint32(stored.size())) << quint32(large ? max : quint32(size))
          << quint16(name.size()) << quint16(large ? 20 : 0);
    m_out.writeRawData(name.constData(), name.size());
    if (large)
        m_out << quint16(1) << quint16(16) << size << quint64(stored.size());
    m_out.writeRawData(stored.constData(), stored.size());

    const quint16 extra = quint16((large ? 8 : 0) + (offsetInZip64 ? 8 : 0));
    m_directoryOut << quint32(0x02014b50) << quint16(0x031e) << quint16(45) << flags << method << quint16(0x6aa0)
                   << quint16(0x585d) << crc << quint32(stored.size()) << quint32(large ? max : quint32(size))
                   << quint16(name.size()) << quint16(extra ? extra + 4 : 0) << quint16(0) << quint16(0) << quint16(0)
                   << quint32(0100644u << 16) << quint32(offsetInZip64 ? max : quint32(offset));
    m_directoryOut.writeRawData(name.constData(), name.size());
    if (extra) {
        m_directoryOut << quint16(1) << extra;
        if (large)
            m_directoryOut << size;
        if (offsetInZip64)
            m_directoryOut << offset;
    }
    ++m_count;
}

void ZipBuilder::add(const QByteArray &name, const QByteArray &content, quint16 method)
{
    add(name, method, crcOf(content), quint64(content.size()), method == 0 ? content : deflated(content));
}

QByteArray ZipBuilder::finish(bool zip64End)
{
    const quint64 directory = quint64(m_bytes.size());
    for (qint64 &at : m_centrals)
        at += qint64(directory);
    m_out.writeRawData(m_directory.constData(), m_directory.size());
    const quint64 size = quint64(m_directory.size());
    if (zip64End) {
        const quint64 record = quint64(m_bytes.size());
        m_out << quint32(0x06064b50) << quint64(44) << quint16(45) << quint16(45) << quint32(0) << quint32(0) << m_count
              << m_count << size << directory;
        m_out << quint32(0x07064b50) << quint32(0) << record << quint32(1);
    }
    m_out << quint32(0x06054b50) << quint16(0) << quint16(0) << quint16(zip64End ? 0xffff : m_count)
          << quint16(zip64End ? 0xffff : m_count) << quint32(zip64End ? 0xffffffffu : size)
          << quint32(zip64End ? 0xffffffffu : directory) << quint16(0);
    return m_bytes;
}

DeflatingDevice::DeflatingDevice() : m_z(new z_stream_s {})
{
    deflateInit2(m_z.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    open(QIODevice::WriteOnly);
}

DeflatingDevice::~DeflatingDevice()
{
    deflateEnd(m_z.get());
}

bool DeflatingDevice::deflateSome(const char *data, qint64 length, int flush)
{
    m_z->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    m_z->avail_in = uInt(length);
    int result = Z_OK;
    do {
        char out[65536];
        m_z->next_out = reinterpret_cast<Bytef *>(out);
        m_z->avail_out = sizeof out;
        result = deflate(m_z.get(), flush);
        m_stored.append(out, int(sizeof out - m_z->avail_out));
    } while (m_z->avail_out == 0 || (flush == Z_FINISH && result == Z_OK));
    return result == Z_OK || result == Z_STREAM_END || result == Z_BUF_ERROR;
}

qint64 DeflatingDevice::writeData(const char *data, qint64 length)
{
    m_crc = quint32(crc32(m_crc, reinterpret_cast<const Bytef *>(data), uInt(length)));
    m_size += quint64(length);
    return deflateSome(data, length, Z_NO_FLUSH) ? length : -1;
}

QByteArray DeflatingDevice::finish(quint32 *crc, quint64 *size)
{
    deflateSome(nullptr, 0, Z_FINISH);
    *crc = m_crc;
    *size = m_size;
    return m_stored;
}

} // namespace xlsxtest
