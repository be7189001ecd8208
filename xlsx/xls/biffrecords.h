#pragma once

// The records of a BIFF stream (the Workbook or Book stream of an .xls file),
// each joined with the CONTINUE records that follow it.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

class QTextCodec;

namespace QXlsx {
namespace detail {

namespace biff {
enum RecordType : quint16 {
    Formula = 0x0006,
    Eof = 0x000A,
    DateMode = 0x0022,
    FilePass = 0x002F,
    Continue = 0x003C,
    Window1 = 0x003D,
    CodePage = 0x0042,
    BoundSheet = 0x0085,
    MulRk = 0x00BD,
    MulBlank = 0x00BE,
    RString = 0x00D6,
    Sst = 0x00FC,
    LabelSst = 0x00FD,
    Blank = 0x0201,
    Number = 0x0203,
    Label = 0x0204,
    BoolErr = 0x0205,
    Formula3 = 0x0206, // the BIFF3 and BIFF4 numbers, which some writers keep
    String = 0x0207,
    Rk = 0x027E,
    Formula4 = 0x0406,
    Bof = 0x0809,
};
} // namespace biff

// A piece of a record: its own bytes or those of one CONTINUE record.
struct RecordPiece
{
    const uchar *data;
    int size;
};

// Reads the bytes of one record across its pieces. Numbers may run from one
// piece into the next; strings take the flag byte a CONTINUE record starts
// with when their characters go on in it.
class RecordCursor
{
public:
    RecordCursor(const RecordPiece *pieces, int count) : m_pieces(pieces), m_count(count) {}

    bool u8(quint8 *v);
    bool u16(quint16 *v);
    bool u32(quint32 *v);
    bool skip(qint64 n);
    // No bytes are left in any piece.
    bool atEnd() const;
    qint64 remaining() const;
    // cch characters of a BIFF8 string whose flag byte said wide (16-bit) or not.
    bool chars(int cch, bool wide, QString *out);
    // n bytes, wherever they lie.
    bool bytes(int n, QByteArray *out);

private:
    int left() const { return m_count ? m_pieces[m_piece].size - m_at : 0; }
    bool nextPiece();

    const RecordPiece *m_pieces;
    int m_count;
    int m_piece = 0;
    int m_at = 0;
};

class RecordReader
{
public:
    explicit RecordReader(const QByteArray &stream) : m_stream(stream) {}

    // Moves to the record at offset (of its header) or to the next one;
    // false at the end of the stream, and when a record runs past it
    // (damaged() tells).
    bool seek(qint64 offset);
    bool next();
    bool damaged() const { return m_damaged; }

    quint16 type() const { return m_type; }
    qint64 offset() const { return m_offset; }
    // Where the next record starts, after its CONTINUE records.
    qint64 end() const { return m_next; }
    // The bytes of the record itself, without its CONTINUE records.
    const uchar *data() const { return m_pieces.front().data; }
    int size() const { return m_pieces.front().size; }
    RecordCursor cursor() const { return RecordCursor(m_pieces.data(), int(m_pieces.size())); }
    // Whether CONTINUE records follow it, and its bytes and theirs as one.
    bool continued() const { return m_pieces.size() > 1; }
    QByteArray joined() const;

private:
    const QByteArray &m_stream;
    qint64 m_next = 0;
    qint64 m_offset = 0;
    quint16 m_type = 0;
    bool m_damaged = false;
    std::vector<RecordPiece> m_pieces;
};

// A BIFF8 string at the cursor: its length (one or two bytes), its flags,
// then its characters; rich-text runs and phonetic text after them are skipped.
bool readUnicodeString(RecordCursor &c, bool longLength, QString *out);

// A BIFF5 string: its length (one or two bytes) and that many bytes in the
// workbook's code page.
bool readByteString(RecordCursor &c, bool longLength, QTextCodec *codec, QString *out);

// The text codec of a BIFF5 workbook's CODEPAGE; null for one no codec knows.
QTextCodec *codecForCodePage(int codePage);
// Text in a code page: GBK text that GBK cannot decode is tried as GB18030.
QString decodeCodePage(QTextCodec *codec, const QByteArray &bytes);

} // namespace detail
} // namespace QXlsx
