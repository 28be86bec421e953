#pragma once

// Internal to the module: the notices the bridge and the download handling
// send to the host ({"cmd": ..., "data": {...}} in indented JSON, through
// WebViewDataCenter::NotifyToHost(const char*)).

#include <QtCore/QString>

class QJsonObject;

namespace TaviWebModuleInternal {

void sendHostNotice(const QString& cmd, const QJsonObject& data);

// "showTip" for a file being written: "text" is the path the host shows,
// "suffix" the last three characters of suffixSource (the whole of it when
// shorter), "type" "file".
void sendShowTip(const QString& text, const QString& suffixSource);

// The last three characters of text, the whole text when shorter; a
// character outside the Basic Multilingual Plane counts as one.
QString lastThreeCharacters(const QString& text);

} // namespace TaviWebModuleInternal
