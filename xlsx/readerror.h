#pragma once

#include <QString>
#include <QtGlobal>

namespace QXlsx {

// Why a file was not read as a workbook, and where: the part (a zip entry,
// a compound-file stream, "" for the file itself) and the byte offset in it,
// or the line of a text file.
struct ReadError
{
    enum Kind {
        None,
        NotFound,
        NotRegularFile, // a folder, a pipe, a device
        CannotOpen, // no permission, or the system refused; detail says why
        TooLarge, // the file is larger than limit allows
        NotWorkbook, // neither a zip, a compound file nor text named .csv
        Encrypted,
        DamagedZip,
        DamagedXml,
        DamagedCompoundFile,
        DamagedRecord, // a BIFF record of an .xls workbook
        NotText, // a .csv file whose bytes are no text
        UnclosedQuote,
        LimitReached, // limit says which
        UnsupportedMethod, // a zip entry compressed in a way not read; detail gives the method's number
        UnsupportedCodePage, // an Excel 5.0/95 code page no codec here knows; detail gives its number
        BrokenUtf8, // a .csv file that is UTF-8 but for a few bytes; line has the first
        OutOfMemory, // memory ran out while reading
    };

    // The limits a reader can run into; their values are in core/limits.h.
    enum Limit {
        NoLimit,
        FileBytes,
        CsvBytes,
        PartBytes, // a sheet or the shared strings
        OtherPartBytes, // the workbook part, relationships, a chart sheet's views
        InflatedBytes,
        InflateRatio,
        ZipEntries,
        Sheets,
        Cells,
        SharedStrings,
        Rows,
        Columns,
        XmlDepth, // elements nested in elements
    };

    Kind kind = None;
    QString part;
    qint64 offset = -1;
    qint64 line = -1; // 1-based
    Limit limit = NoLimit;
    QString detail; // the system's reason, where there is one

    bool isNull() const { return kind == None; }
    explicit operator bool() const { return kind != None; }

    static ReadError at(Kind kind, const QString &part = QString(), qint64 offset = -1)
    {
        ReadError e;
        e.kind = kind;
        e.part = part;
        e.offset = offset;
        return e;
    }
    static ReadError atLine(Kind kind, qint64 line)
    {
        ReadError e;
        e.kind = kind;
        e.line = line;
        return e;
    }
    static ReadError reached(Limit limit, const QString &part = QString())
    {
        ReadError e;
        e.kind = limit == FileBytes || limit == CsvBytes ? TooLarge : LimitReached;
        e.limit = limit;
        e.part = part;
        return e;
    }

    // The value of limit as core/limits.h sets it.
    static qint64 limitValue(Limit limit);
};

// Why Document::saveAs wrote nothing.
struct SaveError
{
    enum Kind {
        None,
        NotPackage, // only an .xlsx package is written back
        NotEditable, // a part does not take the selection edit
        Changed, // the file no longer holds what was read from it
        NotRegularFile,
        CannotWrite, // read-only, disk full, no such folder; detail says why
    };
    Kind kind = None;
    QString detail; // the system's reason, where there is one
};

// The error, if any, that the readers left; sets *out only once.
inline void setReadError(ReadError *out, const ReadError &error)
{
    if (out && out->isNull())
        *out = error;
}

} // namespace QXlsx
