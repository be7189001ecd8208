#pragma once

// Compound files made on the spot for the .xls tests and the fuzz target.

#include <QByteArray>
#include <QString>

namespace xlsxtest {

// A version 4 compound file (4,096-byte sectors) holding stream under name
// in its root storage, for streams up to about 400 MB (the FAT must fit in
// the header's list).
QByteArray compoundFile(const QString &name, QByteArray stream);

} // namespace xlsxtest
