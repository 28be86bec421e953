#pragma once

// Internal to the module: the texts a page hands to the file methods of the
// bridge, taken apart without touching any file.

#include <QtCore/QByteArray>
#include <QtCore/QJsonArray>
#include <QtCore/QString>
#include <optional>

namespace TaviWebModuleInternal {

// The array of a page's JSON command (the copy orders, the deletion list); a
// document holding an object gives an empty array. False, after the warning
// "Invalid JSON string", when the text is no JSON at all.
bool commandArray(const QString& command, QJsonArray& array);

// The bytes of a snapshot's image text: the base64 after its first
// "base64,", up to a NUL, characters outside the base64 alphabet skipped.
// No value when the text has no "base64," at all.
std::optional<QByteArray> snapshotImageData(const QString& text);

} // namespace TaviWebModuleInternal
