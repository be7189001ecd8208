#pragma once

// Putting a finished file in place of another, whole or not at all: the new
// bytes go into a temporary file beside the target, every write and the close
// are checked, and only then is it moved over the target. The old file stays
// byte for byte unless the new one was written completely.

#include <QByteArray>
#include <QString>

namespace files {

struct ReplaceOptions
{
    // Flush the new file, and the folder's entry for it, to the disk.
    bool sync = false;
    // Keep the old file's owner and group as far as this user may set them,
    // its extended attributes and access list, and never a wider mode.
    // Without it a replaced file keeps only its permissions.
    bool keepOwnership = false;
    // A symbolic link at the path: true writes the file it points to, false
    // replaces the link itself and leaves that file alone.
    bool followLinks = true;
    // When set, the file must still hold exactly these bytes (it was read
    // from them), else it is left alone.
    const QByteArray *expected = nullptr;
};

struct ReplaceError
{
    enum Kind {
        None,
        NotRegularFile, // a folder, a pipe, a device
        CannotWrite, // read-only, disk full, no such folder; detail says why
        Changed, // no longer what options.expected holds
    };
    Kind kind = None;
    QString detail; // the system's reason, where there is one
};

// Replaces (or creates) the file at path with bytes. A file this user may
// not write, or anything that is no regular file, is refused. False, with
// the reason in *error, when nothing was put in place.
bool replaceFile(const QString &path, const QByteArray &bytes, const ReplaceOptions &options,
                 ReplaceError *error = nullptr);

// Removes from folder the temporary files that replaceFile leaves behind
// when the program is killed halfway, once they are an hour old (no live
// write takes that long). Returns how many went.
int removeStaleTemporaries(const QString &folder);

} // namespace files
