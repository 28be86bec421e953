#include "HostNotice.h"

#include "WebViewDataCenter.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

namespace TaviWebModuleInternal {

void sendHostNotice(const QString& cmd, const QJsonObject& data)
{
    QJsonObject notice;
    notice.insert(QStringLiteral("cmd"), cmd);
    notice.insert(QStringLiteral("data"), data);
    const QByteArray text = QJsonDocument(notice).toJson(QJsonDocument::Indented);
    WebViewDataCenter::GetInstance()->NotifyToHost(text.constData());
}

QString lastThreeCharacters(const QString& text)
{
    // Counted in characters, not UTF-16 units: half of a surrogate pair would
    // reach the host as a broken character.
    qsizetype from = text.size();
    for (int n = 0; n < 3 && from > 0; ++n) {
        --from;
        if (from > 0 && text.at(from).isLowSurrogate() && text.at(from - 1).isHighSurrogate())
            --from;
    }
    return text.mid(from);
}

void sendShowTip(const QString& text, const QString& suffixSource)
{
    sendHostNotice(QStringLiteral("showTip"),
                   QJsonObject { { QStringLiteral("text"), text },
                                 { QStringLiteral("type"), QStringLiteral("file") },
                                 { QStringLiteral("suffix"), lastThreeCharacters(suffixSource) } });
}

} // namespace TaviWebModuleInternal
