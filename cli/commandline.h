#pragma once

#include <QStringList>

// Exit statuses of the command-line batch.
namespace exitstatus {
constexpr int Done = 0; // every record got its image, the workbook saved (or not to be)
constexpr int SomeWithout = 1; // some records got no image of their own
constexpr int NotReadOrSaved = 2; // the file could not be read, or not saved back
constexpr int Usage = 64;
} // namespace exitstatus

// kestrova-batch [--no-save] [--list] WORKBOOK: the window's batch from the
// command line. arguments[0] is the program. Returns the exit status.
int runCommandLine(const QStringList &arguments);
