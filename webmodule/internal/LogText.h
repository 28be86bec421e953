#pragma once

// Internal to the module: page-controlled text on its way into a log line.

#include <QtCore/QString>
#include <QtCore/QStringView>

namespace TaviWebModuleInternal {

// text with every C0 and C1 control character, DEL and the Unicode line and
// paragraph separators written as escapes ("\n", "\r", "\t", "\x1b",
// "\u2028"): a page's text stays on its own line and cannot move the
// terminal's cursor or colour what follows.
QString escapeForLog(QStringView text);

} // namespace TaviWebModuleInternal
