#include "DeviceStatusJson.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

namespace TaviWebModuleInternal {

QString deviceStatusJson(const DeviceStatusMap& status)
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
        entry.insert(guidKey,
                     QString::fromUtf8(device.first.data(), qsizetype(device.first.size())));
        entry.insert(infoKey, channels);
        devices.append(entry);
    }
    return QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Indented));
}

} // namespace TaviWebModuleInternal
