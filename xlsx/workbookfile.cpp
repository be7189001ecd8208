#include "workbookfile.h"

#include "csvreader.h"
#include "xlsprocess.h"

#include <QFile>
#include <QFileInfo>

namespace QXlsx {
namespace detail {

namespace {

// Read whole into memory; a workbook this program handles is far smaller.
constexpr qint64 MaxPackageBytes = 512 * 1024 * 1024;

const char CompoundFileSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

bool isZip(const QByteArray &head)
{
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

} // namespace

std::unique_ptr<Workbook> readWorkbookFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return nullptr;
    const QByteArray head = file.peek(8);
    if (head == QByteArray::fromRawData(CompoundFileSignature, 8)) {
        file.close();
        return readXlsApart(path);
    }
    const QFileInfo info(path);
    const bool csv = !isZip(head) && info.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    const qint64 cap = csv ? MaxCsvBytes : MaxPackageBytes;
    if (file.size() > cap)
        return nullptr;
    const QByteArray bytes = file.read(cap + 1);
    file.close();
    if (bytes.size() > cap)
        return nullptr;
    return csv ? readCsv(bytes, info.completeBaseName()) : readWorkbook(bytes);
}

} // namespace detail
} // namespace QXlsx
