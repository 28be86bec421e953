#pragma once

// Internal to the module: every browser feature a page asks for (camera,
// microphone, notifications, position, screen capture, pointer lock,
// clipboard reading) is answered at once: denied for documents the page's
// policy does not trust, otherwise as that policy says, or by the host
// when the policy leaves it the answer. A request Qt leaves unanswered
// hangs in the page forever. The clipboard follows the document: a trusted
// one writes it, and reads it where its policy grants that.

#include "WebAccessPolicy.h"

#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QUrl>
#include <functional>
#include <optional>

class QWebEnginePage;

namespace TaviWebModuleInternal {

// A child of the page.
class PagePermissions : public QObject
{
    Q_OBJECT
public:
    explicit PagePermissions(QWebEnginePage* page);
    static PagePermissions* of(const QWebEnginePage* page);

    // Whether anyone would hear the host's signal; without it a request the
    // policy leaves to the host is denied at once.
    void setHostListens(std::function<bool()> listens) { m_hostListens = std::move(listens); }
    // The host's answer to a request it was asked; false when none of origin
    // for feature waits.
    bool answer(const QString& origin, WebAccessPolicy::Feature feature, bool granted);
    // Sets the clipboard settings for the document shown, under the page's
    // policy; again whenever the document, the policy or the page's frames
    // change.
    void judgeClipboard();

private:
    using Reply = std::function<void(bool granted)>;
    struct Pending
    {
        QString origin;
        WebAccessPolicy::Feature feature;
        Reply reply;
    };
    // feature: none for one the module does not know (Qt's qtFeature),
    // always denied.
    void decide(const QUrl& origin, std::optional<WebAccessPolicy::Feature> feature, int qtFeature,
                Reply reply);
    QWebEnginePage* page() const;

    std::function<bool()> m_hostListens;
    QList<Pending> m_pending;
};

// The name log lines and the host's signal give feature.
QString featureName(WebAccessPolicy::Feature feature);

} // namespace TaviWebModuleInternal
