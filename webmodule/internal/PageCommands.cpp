#include "PageCommands.h"

#include "HostLines.h"

#include <QtCore/QJsonDocument>

namespace TaviWebModuleInternal {

bool commandArray(const QString& command, QJsonArray& array)
{
    const QJsonDocument doc = QJsonDocument::fromJson(command.toUtf8());
    if (doc.isNull()) {
        HostLine::warning() << "Invalid JSON string";
        return false;
    }
    array = doc.array();
    return true;
}

std::optional<QByteArray> snapshotImageData(const QString& text)
{
    const QLatin1String marker("base64,");
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    QStringView payload = QStringView(text).mid(at + marker.size());
    const qsizetype nul = payload.indexOf(QChar(u'\0'));
    if (nul >= 0)
        payload.truncate(nul);
    // Only the base64 alphabet counts; whatever else the text holds is
    // skipped by the decoder in any 8-bit form, so the cheap one will do.
    return QByteArray::fromBase64(payload.toLatin1());
}

} // namespace TaviWebModuleInternal
