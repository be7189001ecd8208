#pragma once

#include <QString>

// Where the file dialogs start: the desktop folder, or the home folder on an
// account that has no desktop folder.
QString dialogStartFolder();
