#pragma once

// Internal to the module: how many warnings one page can provoke. At most
// kWarningsPerSecond a second per owner (a page or its bridge) and source (the
// origin of the document that provoked them, or a kind of warning); sources
// beyond kSourcesPerOwner in one second share one budget. A frame of another
// origin can thus neither flood the log nor silence the page that holds it.
// Warnings over the budget are counted; one line per owner and source says
// how many when its second is over. Thread-safe: workers judge paths too.

#include <QtCore/QString>

class QObject;

namespace TaviWebModuleInternal {

constexpr int kWarningsPerSecond = 20;
constexpr int kWarningSourcesPerOwner = 8;

// True when a warning about owner (null for none) and source may be logged
// now; false when it is to be dropped and was counted. An owner's budget
// ends with it: one made later at the same address starts afresh.
// source names what the warnings are about in the count's line, "Dropped
// <n> warnings about <source> (at most 20 a second)". perSecond, for a
// source whose every line says the same, lowers its budget.
bool mayWarn(const QObject* owner, const QString& source, int perSecond = kWarningsPerSecond);

} // namespace TaviWebModuleInternal
