#pragma once

// Internal to the module: how many warnings, and signals to the host, one
// page can provoke. At most kWarningsPerSecond a second per owner (a page or
// its bridge), kind (lines or signals) and source (the origin of the
// document that provoked them, or a kind of warning); sources beyond
// kSourcesPerOwner in one second share one budget. Over the budget, the
// first of each key of a source (a refusal's method and origin) in a second
// still passes, up to kWarningFirstsPerSecond keys an owner; so a flood of
// one refusal cannot hide another that follows it. The rest is counted; one
// line per owner, kind and source says how many when its second is over,
// naming the keys that got no line at all. A frame of another origin can
// thus neither flood the log nor silence the page that holds it, and no
// page's flood touches another page's budget. Thread-safe: workers judge
// paths too.

#include <QtCore/QString>

class QObject;

namespace TaviWebModuleInternal {

constexpr int kWarningsPerSecond = 20;
constexpr int kWarningSourcesPerOwner = 8;
constexpr int kWarningFirstsPerSecond = 20;

// True when a warning about owner (null for none) and source may be logged
// now; false when it is to be dropped and was counted. An owner's budget
// ends with it: one made later at the same address starts afresh.
// source names what the warnings are about in the count's line, "Dropped
// <n> warnings about <source> (at most 20 a second)", followed by ", none
// logged of: <keys>" for keys that got no line. perSecond, for a source
// whose every line says the same, lowers its budget. key (empty: none)
// tells one refusal from another within source.
bool mayWarn(const QObject* owner, const QString& source, int perSecond = kWarningsPerSecond,
             const QString& key = QString());

// The same for a signal (or host notice) about owner: a budget apart from
// the lines', counted as "Dropped <n> signals about <source> (at most 20 a
// second)".
bool maySignal(const QObject* owner, const QString& source, const QString& key = QString());

} // namespace TaviWebModuleInternal
