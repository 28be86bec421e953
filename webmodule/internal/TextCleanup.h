#pragma once

// Internal to the module: the two clean-ups that host texts get before they
// reach a page.

#include <QtCore/QString>

namespace TaviWebModuleInternal {

// Drops every line feed and nothing else: what the page push does to the
// texts of emitInfoNotify and emitDevStatus.
inline QString removeLineFeeds(QString text)
{
    text.remove(QLatin1Char('\n'));
    return text;
}

// Drops every line feed, carriage return and tab, as the pattern "[\n\r\t]"
// would: what the data center does to server answers, cache values and
// notification answers.
inline QString removeLineBreaksAndTabs(QString text)
{
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u == u'\n' || u == u'\r' || u == u'\t';
    });
    return text;
}

} // namespace TaviWebModuleInternal
