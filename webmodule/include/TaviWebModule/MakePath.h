#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QString>

// Creates the directory path with its missing ancestors. 0 when the
// directory exists afterwards, -1 otherwise (also for a path without a
// parent part, such as "name" or "/top").
TAVIWEBMODULE_EXPORT int MakePath(QString path);
