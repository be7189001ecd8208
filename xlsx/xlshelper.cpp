// kestrova-xls: reads one .xls workbook with FreeXL and writes its sheets to a
// file for the program, which runs it apart so that a crash stays here.
//   kestrova-xls <workbook.xls> <sheets file>
// Exit status 0 when the sheets file is written, 1 when the workbook cannot be
// read, 2 on wrong use.

#include "workbookstream.h"
#include "xlsreader.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>

int main(int argc, char *argv[])
{
    // The arguments come from the toolkit, which keeps a path's every character on Windows too.
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 2;
    const std::unique_ptr<QXlsx::detail::Workbook> book = QXlsx::detail::readXls(args.at(1));
    if (!book)
        return 1;
    QSaveFile out(args.at(2));
    if (!out.open(QIODevice::WriteOnly) || !QXlsx::detail::writeSheets(*book, &out) || !out.commit())
        return 1;
    return 0;
}
