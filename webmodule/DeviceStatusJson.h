#pragma once

// Internal to the module: the device status JSON that both the push
// (WebViewDataCenter::DevStatusUpdate) and the pull (CWebComm::GetDevStatus)
// produce, so that a page parses both with one parser.

#include <KelCommand.h>
#include <QtCore/QString>

namespace TaviWebModuleInternal {

// [{"guid": id, "info": [{"channelId": n, "status": s}, ...]}, ...] in the
// map's own order, indented.
QString deviceStatusJson(const DeviceStatusMap& status);

} // namespace TaviWebModuleInternal
