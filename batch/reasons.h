#pragma once

#include <QString>

namespace QXlsx {
struct ReadError;
struct SaveError;
}

// Why a workbook was not read, or not saved back, in plain words.
QString readErrorText(const QXlsx::ReadError &error);
QString saveErrorText(const QXlsx::SaveError &error);
