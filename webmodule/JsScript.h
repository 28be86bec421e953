#pragma once

// Internal to the module: the JavaScript calls that carry host events into a
// page.

#include <QtCore/QString>
#include <initializer_list>

namespace TaviWebModuleInternal {

// Appends text as a single-quoted JavaScript string literal that the page
// reads back as exactly text.
void appendJsString(QString& script, const QString& text);

// "fn('a', 'b')", every value written in one pass, so that a value's own
// "%2" is never taken for a place marker.
QString jsCall(QLatin1String function, std::initializer_list<QString> args);

} // namespace TaviWebModuleInternal
