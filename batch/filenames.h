#pragma once

#include <QString>

// Whether a record key can name its image file inside the output folder, as
// it stands: no absolute path, backslash or parent-folder step, no NUL, C0 or
// C1 control character or lone surrogate. Under Windows rules also none of
// < > : " | ? *, no step ending in a dot or a blank, and no step that is a
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any ending).
bool usableAsFileName(const QString &key, bool windowsRules =
#ifdef Q_OS_WIN
                                              true
#else
                                              false
#endif
);
