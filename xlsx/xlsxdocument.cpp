// Placeholder until the reader lands: every file reads as unloaded.
#include "xlsxdocument.h"

namespace QXlsx {

struct Document::Private {};

Document::Document(const QString &, QObject *parent) : QObject(parent), d(new Private) {}
Document::~Document() = default;
bool Document::isLoaded() const { return false; }
bool Document::isDate1904() const { return false; }
QStringList Document::sheetNames() const { return {}; }
bool Document::selectSheet(const QString &) { return false; }
CellRange Document::dimension() const { return {}; }
Cell *Document::cellAt(int, int) const { return nullptr; }
bool Document::saveAs(const QString &) const { return false; }

} // namespace QXlsx
