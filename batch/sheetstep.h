#pragma once

#include <QString>

namespace QXlsx {
class Document;
}
class BatchProgress;
class BatchReport;
struct SheetLayout;

// Makes the folder (and its parents) unless something of that name exists.
void ensureDirExists(const QString &path);

// One sheet step: makes the layout's folder under dir and writes one image
// per record of the sheet selected in xlsx, in key order. Records without an
// image, and what the sheet leaves out, go into report; a cancel in progress
// stops the step before its next image.
void writeSheetCodes(const QString &dir, const QXlsx::Document &xlsx, const SheetLayout &layout,
                     BatchProgress *progress = nullptr, BatchReport *report = nullptr);
