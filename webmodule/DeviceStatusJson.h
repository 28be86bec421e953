#pragma once

// Internal to the module: the device status JSON that both the push
// (WebViewDataCenter::DevStatusUpdate) and the pull (CWebComm::GetDevStatus)
// produce, so that a page parses both with one parser.

#include <KelCommand.h>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QString>

namespace TaviWebModuleInternal {

// [{"guid": id, "info": [{"channelId": n, "status": s}, ...]}, ...] in the
// map's own order, indented.
inline QString deviceStatusJson(const DeviceStatusMap& status)
{
    const QString guidKey = QStringLiteral("guid");
    const QString infoKey = QStringLiteral("info");
    const QString channelKey = QStringLiteral("channelId");
    const QString statusKey = QStringLiteral("status");

    QJsonArray devices;
    for (const auto& device : status) {
        QJsonArray channels;
        for (const auto& channel : device.second) {
            QJsonObject entry;
            entry.insert(channelKey, channel.first);
            entry.insert(statusKey, channel.second);
            channels.append(entry);
        }
        QJsonObject entry;
        entry.insert(
            guidKey, QString::fromUtf8(device.first.data(), qsizetype(device.first.size())));
        entry.insert(infoKey, channels);
        devices.append(entry);
    }
    return QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Indented));
}

} // namespace TaviWebModuleInternal
