#include "workbookfile.h"

#include "csvreader.h"
#include "xlsprocess.h"

#include "core/regularfile.h"

#include <QFile>
#include <QFileInfo>

namespace QXlsx {
namespace detail {

namespace {

const char CompoundFileSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

bool isZip(const QByteArray &head)
{
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

} // namespace

std::unique_ptr<Workbook> readWorkbookFile(const QString &path, ReadError *error)
{
    QFile file(path);
    if (!openRegularFile(&file, error))
        return nullptr;
    const QByteArray head = file.peek(8);
    if (head == QByteArray::fromRawData(CompoundFileSignature, 8)) {
        file.close();
        std::unique_ptr<Workbook> book = readXlsApart(path);
        if (!book)
            setReadError(error, ReadError::at(ReadError::DamagedCompoundFile));
        return book;
    }
    const QFileInfo info(path);
    const bool csv = !isZip(head) && info.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    if (!csv && !isZip(head)) {
        setReadError(error, ReadError::at(ReadError::NotWorkbook));
        return nullptr;
    }
    const qint64 cap = csv ? limits::CsvBytes : limits::FileBytes;
    const QByteArray bytes = file.size() > cap ? QByteArray() : file.read(cap + 1);
    if (file.size() > cap || bytes.size() > cap) {
        setReadError(error, ReadError::reached(csv ? ReadError::CsvBytes : ReadError::FileBytes));
        return nullptr;
    }
    if (bytes.size() != file.size()) {
        ReadError e = ReadError::at(ReadError::CannotOpen);
        e.detail = file.errorString();
        setReadError(error, e);
        return nullptr;
    }
    file.close();
    return csv ? readCsv(bytes, info.completeBaseName(), error) : readWorkbook(bytes, error);
}

} // namespace detail
} // namespace QXlsx
