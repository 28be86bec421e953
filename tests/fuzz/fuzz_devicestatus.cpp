// The device-status writer: for any map (ids of any bytes, invalid UTF-8
// and NUL included, channels and statuses over the whole int range) the text
// is byte for byte QJsonDocument's indented form, from the map and from its
// snapshot alike.

#include "FuzzInput.h"

#include <DeviceStatusJson.h>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

using namespace TaviWebModuleInternal;

namespace {

QString reference(const DeviceStatusMap& map)
{
    QJsonArray devices;
    for (const auto& [id, channels] : map) {
        QJsonArray info;
        for (const auto& [channel, status] : channels)
            info.append(QJsonObject { { QStringLiteral("channelId"), channel },
                                      { QStringLiteral("status"), status } });
        devices.append(QJsonObject {
            { QStringLiteral("guid"), QString::fromUtf8(id.data(), qsizetype(id.size())) },
            { QStringLiteral("info"), info } });
    }
    return QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Indented));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    DeviceStatusMap map;
    while (!in.empty()) {
        auto& channels = map[in.bytes(in.byte() % 24)];
        for (int n = in.byte() % 8; n > 0; --n) {
            const int32_t channel = in.int32();
            channels[channel] = in.int32();
        }
    }
    const QString expected = reference(map);
    if (deviceStatusJson(map) != expected)
        fail("map written otherwise than QJsonDocument", deviceStatusJson(map));
    if (deviceStatusJson(DeviceStatusSnapshot(map)) != expected)
        fail("snapshot written otherwise than QJsonDocument",
             deviceStatusJson(DeviceStatusSnapshot(map)));
    return 0;
}
