#pragma once

// Internal to the module: the device status JSON that both the push
// (WebViewDataCenter::DevStatusUpdate) and the pull (CWebComm::GetDevStatus)
// produce, so that a page parses both with one parser.

#include <KelCommand.h>
#include <QtCore/QString>
#include <string>
#include <utility>
#include <vector>

namespace TaviWebModuleInternal {

// A copy of the host's map in three flat arrays: quick to take on the host's
// thread, written out later on another.
struct DeviceStatusSnapshot
{
    std::string idBytes; // every device id, one after the other
    std::vector<size_t> idEnds; // per device: where its id ends in idBytes
    std::vector<size_t> channelEnds; // per device: where its channels end in channels
    std::vector<std::pair<int, int>> channels; // channel number, status

    explicit DeviceStatusSnapshot(const DeviceStatusMap& status);
    size_t channelCount() const { return channels.size(); }
};

// [{"guid": id, "info": [{"channelId": n, "status": s}, ...]}, ...] in the
// map's own order, byte for byte what QJsonDocument's indented form gives,
// written directly.
QString deviceStatusJson(const DeviceStatusMap& status);
QString deviceStatusJson(const DeviceStatusSnapshot& status);

} // namespace TaviWebModuleInternal
