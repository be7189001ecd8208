#include "xls/biffrecords.h"

#include "core/littleendian.h"

#include <QTextCodec>

#include <algorithm>

namespace QXlsx {
namespace detail {

bool RecordCursor::nextPiece()
{
    if (m_piece + 1 >= m_count)
        return false;
    ++m_piece;
    m_at = 0;
    return true;
}

bool RecordCursor::u8(quint8 *v)
{
    while (left() == 0) {
        if (!nextPiece())
            return false;
    }
    *v = m_pieces[m_piece].data[m_at++];
    return true;
}

bool RecordCursor::u16(quint16 *v)
{
    quint8 lo, hi;
    if (!u8(&lo) || !u8(&hi))
        return false;
    *v = quint16(lo | hi << 8);
    return true;
}

bool RecordCursor::u32(quint32 *v)
{
    quint16 lo, hi;
    if (!u16(&lo) || !u16(&hi))
        return false;
    *v = lo | quint32(hi) << 16;
    return true;
}

bool RecordCursor::skip(qint64 n)
{
    while (n > 0) {
        if (left() == 0 && !nextPiece())
            return false;
        const int k = int(std::min<qint64>(n, left()));
        m_at += k;
        n -= k;
    }
    return true;
}

bool RecordCursor::atEnd() const
{
    if (left() > 0)
        return false;
    for (int i = m_piece + 1; i < m_count; ++i) {
        if (m_pieces[i].size > 0)
            return false;
    }
    return true;
}

qint64 RecordCursor::remaining() const
{
    qint64 n = left();
    for (int i = m_piece + 1; i < m_count; ++i)
        n += m_pieces[i].size;
    return n;
}

bool RecordCursor::bytes(int n, QByteArray *out)
{
    out->clear();
    while (n > 0) {
        if (left() == 0 && !nextPiece())
            return false;
        const int k = std::min(n, left());
        out->append(reinterpret_cast<const char *>(m_pieces[m_piece].data + m_at), k);
        m_at += k;
        n -= k;
    }
    return true;
}

bool RecordCursor::chars(int cch, bool wide, QString *out)
{
    out->resize(cch);
    ushort *to = reinterpret_cast<ushort *>(out->data());
    int done = 0;
    while (done < cch) {
        if (left() == 0) {
            // The characters go on in the next CONTINUE record, which says
            // again whether they are 8 or 16 bits wide.
            quint8 flags;
            if (!nextPiece() || !u8(&flags))
                return false;
            wide = flags & 1;
            continue;
        }
        const uchar *from = m_pieces[m_piece].data + m_at;
        const int n = std::min(cch - done, wide ? left() / 2 : left());
        if (n == 0)
            return false; // half a character at the end of a record
        if (wide) {
            for (int i = 0; i < n; ++i)
                to[done + i] = ushort(from[2 * i] | from[2 * i + 1] << 8);
        } else {
            // 8-bit characters are the low bytes of UTF-16 ones.
            for (int i = 0; i < n; ++i)
                to[done + i] = from[i];
        }
        m_at += wide ? 2 * n : n;
        done += n;
    }
    return true;
}

QByteArray RecordReader::joined() const
{
    QByteArray bytes;
    for (const RecordPiece &piece : m_pieces)
        bytes.append(reinterpret_cast<const char *>(piece.data), piece.size);
    return bytes;
}

bool RecordReader::seek(qint64 offset)
{
    m_next = offset;
    return next();
}

bool RecordReader::next()
{
    const qint64 size = m_stream.size();
    const uchar *base = reinterpret_cast<const uchar *>(m_stream.constData());
    m_pieces.clear();
    // Fewer bytes than a record header at the end are padding.
    if (m_next < 0 || m_next + 4 > size)
        return false;
    m_offset = m_next;
    m_type = le16(base + m_offset);
    for (qint64 at = m_offset;;) {
        const int n = le16(base + at + 2);
        if (at + 4 + n > size) {
            m_damaged = true;
            return false;
        }
        m_pieces.push_back(RecordPiece {base + at + 4, n});
        at += 4 + n;
        m_next = at;
        if (at + 4 > size || le16(base + at) != biff::Continue)
            return true;
    }
}

bool readUnicodeString(RecordCursor &c, bool longLength, QString *out)
{
    quint16 cch = 0;
    quint8 shortCch = 0;
    quint8 flags = 0;
    quint16 runs = 0;
    quint32 phonetic = 0;
    if (longLength ? !c.u16(&cch) : !c.u8(&shortCch))
        return false;
    if (!longLength)
        cch = shortCch;
    if (!c.u8(&flags) || ((flags & 0x08) && !c.u16(&runs)) || ((flags & 0x04) && !c.u32(&phonetic)))
        return false;
    return c.chars(cch, flags & 0x01, out) && c.skip(qint64(runs) * 4) && c.skip(phonetic);
}

bool readByteString(RecordCursor &c, bool longLength, QTextCodec *codec, QString *out)
{
    quint16 cch = 0;
    quint8 shortCch = 0;
    if (longLength ? !c.u16(&cch) : !c.u8(&shortCch))
        return false;
    QByteArray raw;
    if (!c.bytes(longLength ? cch : shortCch, &raw))
        return false;
    *out = decodeCodePage(codec, raw);
    return true;
}

namespace {

// Windows' code page 936 has the euro sign at 0x80, which Qt's own GBK table
// (Qt without ICU, as on Windows) leaves out. A 0x80 after a lead byte is a
// trail byte and stays with it.
QString decodeGbk(QTextCodec *codec, const QByteArray &bytes)
{
    QString text;
    int start = 0;
    for (int i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes.at(i));
        if (b == 0x80) {
            text += codec->toUnicode(bytes.mid(start, i - start)) + QChar(0x20ac);
            start = i + 1;
        } else if (b > 0x80) {
            ++i;
        }
    }
    return text + codec->toUnicode(bytes.mid(start));
}

} // namespace

QString decodeCodePage(QTextCodec *codec, const QByteArray &bytes)
{
    if (!codec)
        return QString::fromLatin1(bytes);
    const bool gbk = codec->name() == "GBK";
    QString text = gbk ? decodeGbk(codec, bytes) : codec->toUnicode(bytes);
    if (gbk && text.contains(QChar::ReplacementCharacter)) {
        if (QTextCodec *gb18030 = QTextCodec::codecForName("GB18030")) {
            const QString wider = gb18030->toUnicode(bytes);
            if (wider.count(QChar::ReplacementCharacter) < text.count(QChar::ReplacementCharacter))
                text = wider;
        }
    }
    return text;
}

QTextCodec *codecForCodePage(int codePage)
{
    QByteArray name;
    switch (codePage) {
    case 367:
        name = "US-ASCII";
        break;
    case 932:
        name = "Shift_JIS";
        break;
    case 936:
        name = "GBK"; // Windows' table, with the euro sign at 0x80
        break;
    case 949:
        name = "windows-949";
        break;
    case 950:
        name = "Big5";
        break;
    case 10000:
    case 32768:
        name = "macintosh";
        break;
    case 32769:
        name = "windows-1252";
        break;
    case 65001:
        name = "UTF-8";
        break;
    default:
        name = (codePage >= 1250 && codePage <= 1258 ? "windows-" : "IBM") + QByteArray::number(codePage);
        break;
    }
    QTextCodec *codec = QTextCodec::codecForName(name);
    if (!codec && codePage == 874)
        codec = QTextCodec::codecForName("TIS-620");
    if (!codec && codePage == 367)
        codec = QTextCodec::codecForName("windows-1252"); // ASCII is part of it
    return codec;
}

} // namespace detail
} // namespace QXlsx
