#include "workbookfile.h"

#include "csv/csvreader.h"
#include "xls/xlsreader.h"
#include "xlsx/workbookreader.h"

#include "core/limits.h"
#include "core/regularfile.h"

#include <QFile>
#include <QFileInfo>

#include <new>

namespace QXlsx {
namespace detail {

namespace {

const char CompoundFileSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

bool isZip(const QByteArray &head)
{
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

// Reads the file of a kind its first bytes show.
std::unique_ptr<Workbook> readByContent(const QString &path, ReadError *error)
{
    QFile file(path);
    if (!openRegularFile(&file, error))
        return nullptr;
    const QByteArray head = file.peek(8);
    const bool compound = head == QByteArray::fromRawData(CompoundFileSignature, 8);
    const QFileInfo info(path);
    const bool csv = !isZip(head) && !compound && info.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    if (!csv && !isZip(head) && !compound) {
        setReadError(error, ReadError::at(ReadError::NotWorkbook));
        return nullptr;
    }
    const qint64 cap = csv ? limits::CsvBytes : limits::FileBytes;
    const qint64 size = file.size();
    if (size > cap) {
        setReadError(error, ReadError::reached(csv ? ReadError::CsvBytes : ReadError::FileBytes));
        return nullptr;
    }
    // As much as the file holds and one byte more, to see it did not grow.
    const QByteArray bytes = file.read(size + 1);
    if (bytes.size() > cap) {
        setReadError(error, ReadError::reached(csv ? ReadError::CsvBytes : ReadError::FileBytes));
        return nullptr;
    }
    if (bytes.size() != size) {
        ReadError e = ReadError::at(ReadError::CannotOpen);
        e.detail = file.errorString();
        setReadError(error, e);
        return nullptr;
    }
    file.close();
    if (compound)
        return readXls(bytes, error);
    return csv ? readCsv(bytes, info.completeBaseName(), error) : readWorkbook(bytes, error);
}

} // namespace

std::unique_ptr<Workbook> readWorkbookFile(const QString &path, ReadError *error)
{
    // Whatever the reading asks for may not be there (an address-space limit,
    // strict overcommit, a small page file): the file is then refused, and the
    // program goes on.
    try {
        return readByContent(path, error);
    } catch (const std::bad_alloc &) {
        setReadError(error, ReadError::at(ReadError::OutOfMemory));
        return nullptr;
    }
}

} // namespace detail
} // namespace QXlsx
