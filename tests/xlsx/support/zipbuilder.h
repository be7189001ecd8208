#pragma once

// Zips put together by hand for the tests: entries stored or deflated as asked,
// and layouts no writer here makes (zip64 fields where none are needed, sizes
// over 4 GiB of data never held, records that disagree).

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QVector>

#include <memory>

struct z_stream_s;

namespace xlsxtest {

quint32 crcOf(const QByteArray &data);
// data deflated raw, as a zip entry holds it.
QByteArray deflated(const QByteArray &data, int level = 6);

class ZipBuilder
{
public:
    ZipBuilder();

    // stored is the data as stored; size and crc those of the data itself.
    void add(const QByteArray &name, quint16 method, quint32 crc, quint64 size, const QByteArray &stored,
             bool offsetInZip64 = false);
    // content stored (method 0) or deflated (8).
    void add(const QByteArray &name, const QByteArray &content, quint16 method = 8);

    // The whole zip; with zip64End its end record sends the reader to a zip64 one.
    QByteArray finish(bool zip64End = false);

    // Where entry i's local header and central record start in what finish() gives.
    qint64 localOffset(int i) const { return m_locals.value(i, -1); }
    qint64 centralOffset(int i) const { return m_centrals.value(i, -1); }

private:
    QByteArray m_bytes;
    QByteArray m_directory;
    QDataStream m_out;
    QDataStream m_directoryOut;
    quint64 m_count = 0;
    QVector<qint64> m_locals;
    QVector<qint64> m_centrals;
};

// Deflates what is written to it, for parts too large to hold inflated.
class DeflatingDevice : public QIODevice
{
public:
    DeflatingDevice();
    ~DeflatingDevice() override;

    // Ends the stream: the stored bytes, and the CRC and size of what was written.
    QByteArray finish(quint32 *crc, quint64 *size);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    bool deflateSome(const char *data, qint64 length, int flush);

    std::unique_ptr<z_stream_s> m_z;
    QByteArray m_stored;
    quint32 m_crc = 0;
    quint64 m_size = 0;
};

} // namespace xlsxtest
