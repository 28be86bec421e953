#include "WebPage.h"

#include "BlockingBudget.h"
#include "BridgeAccess.h"
#include "DownloadInitiator.h"
#include "DownloadSync.h"
#include "FileWriter.h"
#include "HostLines.h"
#include "HostNotice.h"
#include "LogText.h"
#include "Logging.h"
#include "PageBrowser.h"
#include "PageConsole.h"
#include "PageEvents.h"
#include "PagePermissions.h"
#include "PagePolicy.h"
#include "WarningBudget.h"
#include "WebAccessPolicy.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtNetwork/QSslCertificate>
#include <QtWebEngineCore/QWebEngineCertificateError>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWebEngineCore/QWebEngineNewWindowRequest>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

QString CWebPage::m_strDownloadPath = QString();

namespace {

// The server's suggestion as a plain file name: no folder part can lead the
// download out of the chosen folder.
QString plainFileName(const QString& suggested)
{
    QString name = suggested;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("download");
    return name;
}

using TaviWebModuleInternal::sendHostNotice;

// A page's text of a link for a log line: on one line, and not the megabytes
// a data: URL can hold.
QString linkText(const QUrl& url)
{
    constexpr qsizetype kMaxLink = 256;
    const QString text = url.toString();
    return TaviWebModuleInternal::escapeForLog(text.left(kMaxLink))
        + (text.size() > kMaxLink ? QStringLiteral("\u2026") : QString());
}

// Addresses a host may be handed as a link: the web's and local files'.
// Anything else (smb:, ssh:, mailto:, a custom scheme, data:, javascript:)
// would have the system launch what a page chose.
bool handedToHost(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https")
            || scheme == QLatin1String("file"));
}

// Refused by the navigation policy: logged, and, for an address a host may
// open, the host told so that it can open the link elsewhere, within the
// page's budget of signals.
bool refusedNavigation(CWebPage* page, const QUrl& url, bool newWindow)
{
    const WebAccessPolicy& policy = TaviWebModuleInternal::policyFor(page);
    if (policy.navigationPolicy() != WebAccessPolicy::TrustedOnly || policy.isTrusted(url))
        return false;
    const QString what = newWindow ? QStringLiteral("a new window") : QStringLiteral("navigation");
    const QString target = WebAccessPolicy::originOf(url);
    const bool handed = handedToHost(url);
    // A frame's window.open in a loop has a budget apart from the page's
    // own navigations; a flood towards one site leaves another its line.
    if (TaviWebModuleInternal::mayWarn(
            page, newWindow ? QStringLiteral("new windows") : QStringLiteral("navigations"),
            TaviWebModuleInternal::kWarningsPerSecond, target)) {
        if (handed)
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Refused %1 to %2: not a trusted origin")
                       .arg(what, linkText(url));
        else
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Refused %1 to %2: not a trusted origin; a %3: address, not "
                                  "passed to the host")
                       .arg(what, linkText(url), TaviWebModuleInternal::escapeForLog(url.scheme()));
    }
    if (!handed || !TaviWebModuleInternal::maySignal(page, QStringLiteral("refused links"), target))
        return true;
    const TaviWebModuleInternal::RequestLog* log = TaviWebModuleInternal::RequestLog::of(page);
    const bool untrusted = !log || log->untrustedMayAsk();
    const TaviWebModuleInternal::NotifyingPage from(TaviWebModuleInternal::PageEvents::of(page));
    sendHostNotice(
        QStringLiteral("navigationRefused"),
        QJsonObject { { QStringLiteral("url"), url.toString() },
                      { QStringLiteral("newWindow"), newWindow },
                      { QStringLiteral("untrustedDocument"), untrusted },
                      { QStringLiteral("page"), TaviWebModuleInternal::pageIdOf(page) } });
    if (auto* events = TaviWebModuleInternal::PageEvents::of(page)) {
        Q_EMIT events->navigationRefused(url, newWindow);
        Q_EMIT events->linkRefused(url, newWindow, untrusted);
    }
    return true;
}

// A pinned leaf certificate is accepted for this load; any other error is
// refused as the engine would, logged and reported to the host.
void onCertificateError(CWebPage* page, QWebEngineCertificateError error)
{
    const QList<QSslCertificate> chain = error.certificateChain();
    const QByteArray digest = chain.isEmpty()
        ? QByteArray()
        : QCryptographicHash::hash(chain.constFirst().toDer(), QCryptographicHash::Sha256);
    if (error.isOverridable() && TaviWebModuleInternal::policyFor(page).isPinned(digest)) {
        qCDebug(lcWebModule) << "Pinned certificate accepted for" << error.url().toString();
        error.acceptCertificate();
        return;
    }
    const QString fingerprint = WebAccessPolicy::fingerprintText(digest);
    if (TaviWebModuleInternal::mayWarn(page, QStringLiteral("certificate errors")))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Certificate error refused for %1: %2; SHA-256 %3")
                   .arg(error.url().toString(), error.description(), fingerprint);
    const TaviWebModuleInternal::NotifyingPage from(TaviWebModuleInternal::PageEvents::of(page));
    sendHostNotice(
        QStringLiteral("certificateRefused"),
        QJsonObject { { QStringLiteral("url"), error.url().toString() },
                      { QStringLiteral("error"), error.description() },
                      { QStringLiteral("fingerprint"), fingerprint },
                      { QStringLiteral("page"), TaviWebModuleInternal::pageIdOf(page) } });
    error.rejectCertificate();
}

using TaviWebModuleInternal::DownloadInitiator;
using TaviWebModuleInternal::escapeForLog;

// A download whose initiator is untrusted, or whose page or document is
// gone: one log line, and the caller cancels it.
bool refusedDownload(const QUrl& url, QPointer<QWebEnginePage>* initiatorPage)
{
    const DownloadInitiator initiator = DownloadInitiator::take(url);
    *initiatorPage = initiator.page;
    const WebAccessPolicy& policy = TaviWebModuleInternal::policyFor(initiator.page.data());
    if (policy.restrictsOrigins()
        && (initiator.state == DownloadInitiator::Unknown || !policy.isTrusted(initiator.origin))) {
        const QString origin = escapeForLog(TaviWebModuleInternal::originText(initiator.origin));
        if (TaviWebModuleInternal::mayWarn(initiator.page.data(),
                                           QStringLiteral("downloads started by ") + origin))
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Download refused: started by %1, not a trusted origin")
                       .arg(origin);
        // Told to the tab whose document asked, naming that document (a
        // frame's own origin, not the page's); to none when none asked.
        if (initiator.page)
            TaviWebModuleInternal::reportRefusedCall(initiator.page, "DownloadRequested",
                                                     VmsWebWidgets::UntrustedOrigin,
                                                     initiator.origin);
        return true;
    }
    if (initiator.state == DownloadInitiator::PageGone
        || initiator.state == DownloadInitiator::DocumentGone) {
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Download cancelled: the %1 that started it is gone: %2")
                   .arg(initiator.state == DownloadInitiator::PageGone ? QLatin1String("page")
                                                                       : QLatin1String("document"),
                        escapeForLog(url.toString()));
        return true;
    }
    return false;
}

// A page saving its own document: refused, with that document's origin,
// when the document is not trusted.
bool refusedPageSave(QWebEnginePage* page)
{
    const WebAccessPolicy& policy = TaviWebModuleInternal::policyFor(page);
    const TaviWebModuleInternal::DocumentOrigin* document
        = TaviWebModuleInternal::DocumentOrigin::of(page);
    const QUrl url = document ? document->url() : QUrl();
    if (!policy.restrictsOrigins() || policy.isTrusted(url))
        return false;
    const QString origin = escapeForLog(TaviWebModuleInternal::originText(url));
    if (TaviWebModuleInternal::mayWarn(page, QStringLiteral("downloads started by ") + origin))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral(
                   "Saving the page refused: its document is of %1, not a trusted origin")
                   .arg(origin);
    TaviWebModuleInternal::reportRefusedCall(page, "DownloadRequested",
                                             VmsWebWidgets::UntrustedOrigin);
    return true;
}

// Downloads accepted and not finished yet, by target: a second one of the
// same name must not take the first one's file.
QSet<QString>& pendingTargets()
{
    static QSet<QString> targets;
    return targets;
}

// name in folder, or the first of "name (1).ext", "name (2).ext", ... that
// no file and no pending download holds: a download never replaces a file.
QString freeName(const QString& folder, const QString& name)
{
    const auto taken = [&folder](const QString& candidate) {
        const QString path = folder + QLatin1Char('/') + candidate;
        return QFileInfo(path).exists() || QFileInfo(path).isSymLink()
            || pendingTargets().contains(path);
    };
    if (!taken(name))
        return name;
    // "archive.tar.gz" becomes "archive (1).tar.gz", as browsers do.
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype tar = name.lastIndexOf(QLatin1String(".tar."), -1, Qt::CaseInsensitive);
    if (tar > 0 && name.indexOf(QLatin1Char('.'), tar + 5) < 0)
        dot = tar;
    if (dot <= 0)
        dot = name.size();
    const QString base = name.left(dot);
    const QString ext = name.mid(dot);
    for (int i = 1;; ++i) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(base, QString::number(i), ext);
        if (!taken(candidate))
            return candidate;
    }
}

// With the engine's remote debugging on, a driver that auto-attaches to
// the browser (puppeteer, Playwright) makes the engine hold each new
// window's renderer, which is its opener's too, until the driver releases
// the window's target. A window the view never adopts never becomes a
// target, so nothing releases it and the opener stays frozen. Such a window
// is adopted by a page that loads nothing, and dropped once the opener runs
// again.
class PopupSink : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl&, NavigationType, bool) override { return false; }
};

bool remoteDebugging()
{
    static const bool on = qEnvironmentVariableIsSet("QTWEBENGINE_REMOTE_DEBUGGING")
        || qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS")
               .contains(QLatin1String("--remote-debugging-port"))
        || QCoreApplication::arguments().filter(QStringLiteral("--remote-debugging-port")).size()
            > 0;
    return on;
}

void dropNewWindow(QWebEnginePage* opener, QWebEngineNewWindowRequest& request)
{
    if (!remoteDebugging())
        return; // not adopted: the engine drops it at once
    const QPointer<QWebEnginePage> sink(new PopupSink(opener->profile(), opener));
    request.openIn(sink);
    // Answered when the opener's renderer runs again, after the release.
    opener->runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld,
                          [sink](const QVariant&) {
                              if (sink)
                                  sink->deleteLater();
                          });
}

} // namespace

CWebPage::CWebPage(QObject* parent)
    : QWebEnginePage(parent)
{
    setUp();
}

CWebPage::CWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent)
{
    setUp();
}

void CWebPage::setUp()
{
    // The profile's signal reaches this slot through the meta-object too.
    qRegisterMetaType<QWebEngineDownloadRequest*>("QWebEngineDownloadRequest*");
    new TaviWebModuleInternal::PageConsole(this);
    // Before the document origin: its trust is this policy's.
    new TaviWebModuleInternal::PagePolicy(this);
    // Before any document: every one reports its origin.
    new TaviWebModuleInternal::DocumentOrigin(this);
    // After it: what a document asks is judged by its origin.
    auto* permissions = new TaviWebModuleInternal::PagePermissions(this);
    // After it: each request knows the document it came from.
    auto* requests = new TaviWebModuleInternal::RequestLog(this);
    // The clipboard is off while the page holds a frame of an untrusted origin.
    connect(requests, &TaviWebModuleInternal::RequestLog::askersChanged, permissions,
            &TaviWebModuleInternal::PagePermissions::judgeClipboard);
    permissions->judgeClipboard();
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) {
                // Refused (by the policy or the host) or answered elsewhere:
                // the view adopts nothing.
                if (!refusedNavigation(this, request.requestedUrl(), true))
                    if (auto* browser = TaviWebModuleInternal::PageBrowser::of(this);
                        browser && browser->newWindow(request))
                        return;
                dropNewWindow(this, request);
            });
    connect(this, &QWebEnginePage::certificateError, this,
            [this](const QWebEngineCertificateError& error) { onCertificateError(this, error); });
}

CWebPage::~CWebPage() = default;

void CWebPage::SetDownloadPath(const QString& path)
{
    // The bridge and hosts write the member directly on the GUI thread; so
    // every other writer goes there too.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        m_strDownloadPath = path;
        return;
    }
    const auto write = [path] { m_strDownloadPath = path; };
    QMetaObject::invokeMethod(app, write, Qt::AutoConnection);
}

bool CWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (isMainFrame && refusedNavigation(this, url, false))
        return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void CWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                        int lineNumber, const QString& sourceID)
{
    if (TaviWebModuleInternal::DocumentOrigin* origin
        = TaviWebModuleInternal::DocumentOrigin::of(this);
        origin && origin->take(message))
        return;
    // The engine tells why it blocked a request only here.
    if (level == ErrorMessageLevel)
        if (auto* browser = TaviWebModuleInternal::PageBrowser::of(this))
            browser->reportBlocked(message, sourceID);
    // Over the console's rate a line goes nowhere, Qt's log included.
    if (TaviWebModuleInternal::PageConsole* console = TaviWebModuleInternal::PageConsole::of(this);
        console && !console->log(level, message, lineNumber, sourceID))
        return;
    // Qt's "js" lines too: one message, one line.
    QWebEnginePage::javaScriptConsoleMessage(level, escapeForLog(message), lineNumber,
                                             escapeForLog(sourceID));
}

bool CWebPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                                const QString& defaultValue, QString* result)
{
    auto* browser = TaviWebModuleInternal::PageBrowser::of(this);
    if (browser && browser->isOpenQuestion(msg)) {
        result->clear();
        // Refused by the policy: the page gets null, the host its notice.
        if (refusedNavigation(this, QUrl(defaultValue), true))
            return false;
        return browser->answerOpen(QUrl(defaultValue), result);
    }
    return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

void CWebPage::DownloadRequested(QWebEngineDownloadRequest* download)
{
    namespace HostLine = TaviWebModuleInternal::HostLine;
    // Every page sees every request of the shared profile; the first one
    // that finds it still open handles it.
    if (!download || download->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    HostLine::debug() << "Download requested:" << download->url().toString();
    // Every request logged as requested ends as rejected or accepted: one
    // the module cancels is rejected too.
    const auto rejected = [] { HostLine::debug() << "Download request rejected. Error: "; };
    const auto reject = [download, rejected] {
        download->cancel();
        rejected();
    };
    // Judged by the document that asked, whatever its page shows now; the
    // request's page() is never read (see DownloadInitiator).
    QPointer<QWebEnginePage> initiatorPage;
    if (download->isSavePageDownload()) {
        // A page saving itself (QWebEnginePage::save, the SavePage action) is
        // asked for synchronously: here page() is the page whose document is
        // saved, and that document is still the current one.
        if (refusedPageSave(download->page())) {
            reject();
            return;
        }
        initiatorPage = download->page();
    } else if (refusedDownload(download->url(), &initiatorPage)) {
        reject();
        return;
    }

    // The dialog's event loop runs everything else meanwhile, even the end
    // of the request.
    const QPointer<QWebEngineDownloadRequest> request(download);
    QWidget dialogParent; // never shown
    // The suffix of the host's tip comes from the name the server suggested.
    const QString suggested = download->downloadFileName();
    const QString name = plainFileName(suggested);
    QString path;
    if (!m_strDownloadPath.isEmpty()) {
        // The user's choice in the dialog may replace a file; a page's may not.
        path = m_strDownloadPath + QLatin1Char('/') + freeName(m_strDownloadPath, name);
    } else {
        // A page that starts download after download must not keep the
        // dialog up: over its budget the dialog is cancelled at once.
        const TaviWebModuleInternal::ModalTurn turn(initiatorPage.data(), "DownloadRequested");
        if (!turn.refused())
            path = QFileDialog::getSaveFileName(&dialogParent, QString(),
                                                QDir::homePath() + QLatin1Char('/') + name);
    }

    if (!request || download->state() != QWebEngineDownloadRequest::DownloadRequested) {
        rejected();
        return;
    }
    if (path.isEmpty()) {
        // The user closed the save dialog: nothing is saved, so no tip.
        qCDebug(lcWebModule) << "Download cancelled: no file chosen for"
                             << download->url().toString();
        reject();
        return;
    }
    if (!TaviWebModuleInternal::mayWritePath(initiatorPage, "DownloadRequested", path)) {
        if (initiatorPage)
            TaviWebModuleInternal::reportRefusedCall(initiatorPage, "DownloadRequested",
                                                     VmsWebWidgets::OutsideFileRoots);
        reject();
        return;
    }
    // A folder that cannot hold the file would end the download cancelled
    // after the host had been told of it.
    const QString folder = QFileInfo(path).absolutePath();
    QStringList created;
    if (!TaviWebModuleInternal::withinPathLimits(path)
        || !TaviWebModuleInternal::makeDownloadFolder(folder, &created)
        || !QFileInfo(folder).isWritable()) {
        qCDebug(lcWebModule) << "Download refused: the folder cannot be written:" << folder;
        reject();
        return;
    }
    download->setDownloadFileName(path);

    HostLine::debug() << "Download accepted. Starting download...";
    download->accept();
    pendingTargets().insert(path);
    // A completed download is on the disk, entries and all, before it counts as ended.
    TaviWebModuleInternal::syncWhenEnded(download, path, created,
                                         [path] { pendingTargets().remove(path); });
    const TaviWebModuleInternal::NotifyingPage from(
        TaviWebModuleInternal::PageEvents::of(initiatorPage.data()));
    TaviWebModuleInternal::sendShowTip(path, suggested);
}
