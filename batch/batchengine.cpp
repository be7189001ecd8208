#include "batch/batchengine.h"

#include "batch/sheetrecords.h"
#include "batch/sheetstep.h"
#include "files/replacefile.h"

#include "xlsxdocument.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// The layout of a sheet by its name; "device" is tested first. Null for neither.
const SheetLayout *layoutFor(const QString &sheet)
{
    if (sheet.contains(QLatin1String("device"), Qt::CaseSensitive))
        return &SheetLayout::device;
    if (sheet.contains(QLatin1String("board"), Qt::CaseSensitive))
        return &SheetLayout::board;
    return nullptr;
}

} // namespace

BatchResult runBatch(const QString &path, const BatchOptions &options, BatchObserver *observer)
{
    BatchResult result;
    result.path = path;
    const QString dir = QFileInfo(path).path();
    QXlsx::Document xlsx(path);
    // A file that is no readable workbook is left alone: nothing to save back.
    if (!xlsx.isLoaded()) {
        result.readError = xlsx.readError();
        return result;
    }
    files::removeStaleTemporaries(dir);
    result.sheets = xlsx.sheetNames();

    // Counted first, so that the progress runs over the whole workbook.
    for (const QString &sheet : qAsConst(result.sheets)) {
        if (const SheetLayout *layout = layoutFor(sheet)) {
            xlsx.selectSheet(sheet);
            result.records += countSheetRecords(xlsx, *layout);
        }
    }
    if (observer)
        observer->started(result.records);
    BatchState state(observer, &result);
    for (const QString &sheet : qAsConst(result.sheets)) {
        xlsx.selectSheet(sheet);
        if (const SheetLayout *layout = layoutFor(sheet)) {
            result.usedSheets << sheet;
            state.startSheet(sheet);
            writeSheetCodes(dir, xlsx, *layout, &state);
        }
        if (result.cancelled)
            break;
    }
    // Images that a later record replaced are no longer there.
    result.images.erase(std::remove_if(result.images.begin(), result.images.end(),
                                       [](const WrittenImage &image) { return image.file.isEmpty(); }),
                        result.images.end());

    // Stopped halfway, the run changed nothing the user asked for: no save.
    if (result.cancelled || !options.saveBack)
        return result;
    // An .xls or CSV file is left as it is: the run changes no cell, and only
    // an .xlsx package can be written back.
    if (!xlsx.isPackage()) {
        result.save = BatchResult::Save::LeftAsIs;
    } else if (xlsx.saveAs(path)) {
        result.save = BatchResult::Save::Saved;
    } else {
        result.save = BatchResult::Save::Failed;
        result.saveError = xlsx.saveError();
    }
    return result;
}
