#pragma once

// Internal to the module: the category of every diagnostic the module adds
// to the lines its hosts and pages read word for word (those stay in Qt's
// default category). Hosts filter it as "tavi.webmodule".

#include <QtCore/QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWebModule)
