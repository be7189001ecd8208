#pragma once

#include "xlsxcell.h"
#include "xlsxcellrange.h"
#include "readerror.h"

#include <QObject>
#include <QStringList>

#include <memory>

namespace QXlsx {

// Why saveAs wrote nothing.
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

// A workbook read from disk: an .xlsx package, an .xls workbook or a CSV text.
// A file that cannot be read as a workbook gives a document that is not loaded
// and has no sheets; it is never touched.
class Document : public QObject
{
    Q_OBJECT
public:
    explicit Document(const QString &xlsxName, QObject *parent = nullptr);
    ~Document() override;

    bool isLoaded() const;
    // Why the file was not loaded; null when it was.
    ReadError readError() const;
    // Read from an .xlsx package, the only kind saveAs writes.
    bool isPackage() const;
    bool isDate1904() const;

    QStringList sheetNames() const;
    bool selectSheet(const QString &name);

    // Range of the cells present in the selected sheet; invalid when it has none.
    CellRange dimension() const;
    // The cell at (row, column) of the selected sheet, or null when none is there.
    // The pointer stays valid for the life of the document.
    Cell *cellAt(int row, int column) const;

    // Writes the package to xlsxName atomically, the selected sheet (or, when it
    // is hidden, the nearest visible one before it) marked as the active tab and
    // the only one selected. When that is what the file says already, the bytes
    // read are written as they were.
    // Writes nothing and returns false for a document that is no package.
    // Saved over the file it was read from, it is written only while that
    // file still holds what was read.
    bool saveAs(const QString &xlsxName) const;
    // Why the last saveAs wrote nothing.
    SaveError saveError() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace QXlsx
