#include "PagePermissions.h"

#include "BridgeAccess.h"
#include "DownloadInitiator.h"
#include "LogText.h"
#include "Logging.h"
#include "PageEvents.h"
#include "PagePolicy.h"
#include "SideObject.h"
#include "WarningBudget.h"

#include <QtCore/QMetaEnum>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineSettings>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QtWebEngineCore/QWebEnginePermission>
#endif

namespace TaviWebModuleInternal {

namespace {

using Feature = WebAccessPolicy::Feature;

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
std::optional<Feature> featureOf(QWebEnginePermission::PermissionType type)
{
    using T = QWebEnginePermission::PermissionType;
    switch (type) {
    case T::Notifications:
        return WebAccessPolicy::Notifications;
    case T::Geolocation:
        return WebAccessPolicy::Geolocation;
    case T::MediaAudioCapture:
        return WebAccessPolicy::Microphone;
    case T::MediaVideoCapture:
        return WebAccessPolicy::Camera;
    case T::MediaAudioVideoCapture:
        return WebAccessPolicy::CameraAndMicrophone;
    case T::DesktopVideoCapture:
        return WebAccessPolicy::ScreenCapture;
    case T::DesktopAudioVideoCapture:
        return WebAccessPolicy::ScreenAndAudioCapture;
    case T::MouseLock:
        return WebAccessPolicy::PointerLock;
    case T::ClipboardReadWrite:
        return WebAccessPolicy::ClipboardRead;
    default:
        return std::nullopt;
    }
}
#else
std::optional<Feature> featureOf(QWebEnginePage::Feature feature)
{
    switch (feature) {
    case QWebEnginePage::Notifications:
        return WebAccessPolicy::Notifications;
    case QWebEnginePage::Geolocation:
        return WebAccessPolicy::Geolocation;
    case QWebEnginePage::MediaAudioCapture:
        return WebAccessPolicy::Microphone;
    case QWebEnginePage::MediaVideoCapture:
        return WebAccessPolicy::Camera;
    case QWebEnginePage::MediaAudioVideoCapture:
        return WebAccessPolicy::CameraAndMicrophone;
    case QWebEnginePage::DesktopVideoCapture:
        return WebAccessPolicy::ScreenCapture;
    case QWebEnginePage::DesktopAudioVideoCapture:
        return WebAccessPolicy::ScreenAndAudioCapture;
    case QWebEnginePage::MouseLock:
        return WebAccessPolicy::PointerLock;
    default:
        return std::nullopt;
    }
}
#endif

} // namespace

QString featureName(WebAccessPolicy::Feature feature)
{
    return QString::fromLatin1(QMetaEnum::fromType<WebAccessPolicy::Feature>().valueToKey(feature));
}

PagePermissions::PagePermissions(QWebEnginePage* page)
    : QObject(page)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    connect(page, &QWebEnginePage::permissionRequested, this,
            [this](QWebEnginePermission permission) {
                decide(permission.origin(), featureOf(permission.permissionType()),
                       int(permission.permissionType()), [permission](bool granted) mutable {
                           if (!permission.isValid())
                               return;
                           if (granted)
                               permission.grant();
                           else
                               permission.deny();
                       });
            });
#else
    connect(page, &QWebEnginePage::featurePermissionRequested, this,
            [this, page](const QUrl& origin, QWebEnginePage::Feature feature) {
                decide(origin, featureOf(feature), int(feature),
                       [page = QPointer<QWebEnginePage>(page), origin, feature](bool granted) {
                           if (page)
                               page->setFeaturePermission(
                                   origin, feature,
                                   granted ? QWebEnginePage::PermissionGrantedByUser
                                           : QWebEnginePage::PermissionDeniedByUser);
                       });
            });
#endif
    // What the document asked is its own: a new one asks afresh.
    if (DocumentOrigin* document = DocumentOrigin::of(page))
        connect(document, &DocumentOrigin::changed, this, [this] {
            const QList<Pending> pending = std::exchange(m_pending, {});
            for (const Pending& p : pending)
                p.reply(false);
        });
    // A new document reaches the clipboard through the request log's
    // askersChanged, which comes once the log has counted it.
    if (PagePolicy* policy = PagePolicy::of(page))
        connect(policy, &PagePolicy::changed, this, &PagePermissions::judgeClipboard);
}

void PagePermissions::judgeClipboard()
{
    // Qt 6.4 asks no one before a page writes or reads the clipboard: it
    // reads the page's settings (Qt 6.8 asks, as ClipboardRead above, only
    // where they do not allow it). So they follow the document shown: a
    // trusted one may write, and read where its policy grants that; every
    // other document has the engine's default, neither. The settings are the
    // whole page's, its frames' too (a copy or paste command needs no
    // gesture under them): a frame of an untrusted origin turns them off.
    const WebAccessPolicy& policy = policyFor(page());
    const DocumentOrigin* document = DocumentOrigin::of(page());
    const RequestLog* requests = RequestLog::of(page());
    const QUrl url = document ? document->url() : QUrl();
    const bool trusted
        = !url.isEmpty() && policy.isTrusted(url) && requests && !requests->untrustedMayAsk();
    const bool read = trusted
        && policy.permission(WebAccessPolicy::ClipboardRead, url) == WebAccessPolicy::Grant;
    QWebEngineSettings* settings = page()->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, trusted);
    settings->setAttribute(QWebEngineSettings::JavascriptCanPaste, read);
}

PagePermissions* PagePermissions::of(const QWebEnginePage* page)
{
    return sideObject<PagePermissions>(page);
}

QWebEnginePage* PagePermissions::page() const
{
    return static_cast<QWebEnginePage*>(parent());
}

void PagePermissions::decide(const QUrl& origin, std::optional<Feature> feature, int qtFeature,
                             Reply reply)
{
    const QString name
        = feature ? featureName(*feature) : QStringLiteral("(Qt's feature %1)").arg(qtFeature);
    const WebAccessPolicy& policy = policyFor(page());
    const DocumentOrigin* document = DocumentOrigin::of(page());
    const QUrl documentUrl = document ? document->url() : QUrl();
    const QString originName = escapeForLog(originText(origin));
    const auto deny = [&](const QString& why) {
        if (mayWarn(page(), QStringLiteral("permission requests")))
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Permission %1 denied to %2: %3").arg(name, originName, why);
        reply(false);
    };
    if (!feature)
        return deny(QStringLiteral("not a feature pages are given"));
    // A frame of another origin inside a trusted page asks as itself.
    if (documentUrl.isEmpty() || !policy.isTrusted(documentUrl) || !policy.isTrusted(origin))
        return deny(QStringLiteral("not a trusted origin"));
    switch (policy.permission(*feature, origin)) {
    case WebAccessPolicy::Grant:
        qCDebug(lcWebModule).noquote()
            << QStringLiteral("Permission %1 granted to %2").arg(name, originName);
        reply(true);
        return;
    case WebAccessPolicy::AskHost:
        if (m_hostListens && m_hostListens()) {
            const QString text = WebAccessPolicy::originOf(origin);
            m_pending.append(Pending { text, *feature, std::move(reply) });
            if (PageEvents* events = PageEvents::of(page()))
                Q_EMIT events->permissionRequested(text, *feature);
            return;
        }
        return deny(QStringLiteral("left to the host, which does not listen"));
    case WebAccessPolicy::Deny:
        break;
    }
    deny(QStringLiteral("not granted by the host's policy"));
}

bool PagePermissions::answer(const QString& origin, Feature feature, bool granted)
{
    bool answered = false;
    for (qsizetype i = 0; i < m_pending.size();) {
        if (m_pending.at(i).origin != origin || m_pending.at(i).feature != feature) {
            ++i;
            continue;
        }
        const Reply reply = m_pending.takeAt(i).reply;
        reply(granted);
        answered = true;
    }
    if (!answered)
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("No request of %1 for %2 waits for an answer")
                   .arg(escapeForLog(origin), featureName(feature));
    else
        qCDebug(lcWebModule).noquote()
            << QStringLiteral("Permission %1 %2 by the host to %3")
                   .arg(featureName(feature), granted ? "granted" : "denied", escapeForLog(origin));
    return answered;
}

} // namespace TaviWebModuleInternal
