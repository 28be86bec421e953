#include "VmsWebWidgets.h"

#include "BlockingBudget.h"
#include "BridgeAccess.h"
#include "BridgeReady.h"
#include "ErrorState.h"
#include "FileCopy.h"
#include "HostNotice.h"
#include "JsScript.h"
#include "Logging.h"
#include "PageBrowser.h"
#include "PageEvents.h"
#include "PageHealth.h"
#include "PageNotifications.h"
#include "PagePermissions.h"
#include "PagePolicy.h"
#include "PageProfiles.h"
#include "PagePush.h"
#include "SideObject.h"
#include "StatusWriter.h"
#include "TextCleanup.h"
#include "WebAccessPolicy.h"
#include "WebComm.h"
#include "WebPage.h"
#include "WebViewDataCenter.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QMetaMethod>
#include <QtCore/QTimer>
#include <QtGui/QBrush>
#include <QtGui/QColor>
#include <QtGui/QPalette>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWebEngineCore/QWebEngineScript>
#include <SkinMgr.h>
#include <csignal>
#include <unistd.h>

VmsWebWidgets::VmsWebWidgets(QWidget* parent)
    : VmsWebWidgets(nullptr, parent)
{}

VmsWebWidgets::VmsWebWidgets(QWebEngineProfile* profile, QWidget* parent)
    : QObject(nullptr)
    , m_pParent(parent)
    , m_pView(nullptr)
    , m_pWebComm(nullptr)
    , m_pChannel(nullptr)
    , m_pPage(nullptr)
    , m_pProfile(nullptr)
    , m_bLoading(false)
    , m_nWidth(0)
    , m_nHeight(0)
{
    if (!profile)
        profile = TaviWebModuleInternal::pagesProfile();
    // Without the host's choice, exactly as before: Qt's default profile.
    m_pPage = profile ? new CWebPage(profile, nullptr) : new CWebPage(nullptr);
    // What the page's own code refuses reaches the host as this widget's signals.
    auto* events = new TaviWebModuleInternal::PageEvents(m_pPage);
    connect(events, &TaviWebModuleInternal::PageEvents::navigationRefused, this,
            &VmsWebWidgets::navigationRefused);
    connect(events, &TaviWebModuleInternal::PageEvents::linkRefused, this,
            &VmsWebWidgets::linkRefused);
    connect(events, &TaviWebModuleInternal::PageEvents::bridgeWithheld, this,
            &VmsWebWidgets::bridgeWithheld);
    connect(events, &TaviWebModuleInternal::PageEvents::bridgeCallRefused, this,
            &VmsWebWidgets::bridgeCallRefused);
    connect(events, &TaviWebModuleInternal::PageEvents::blockingBudgetExceeded, this,
            &VmsWebWidgets::blockingBudgetExceeded);
    connect(events, &TaviWebModuleInternal::PageEvents::hostNotified, this,
            &VmsWebWidgets::notifiedHost);
    new TaviWebModuleInternal::BlockingBudget(m_pPage);
    connect(events, &TaviWebModuleInternal::PageEvents::permissionRequested, this,
            &VmsWebWidgets::permissionRequested);
    connect(events, &TaviWebModuleInternal::PageEvents::notificationShown, this,
            &VmsWebWidgets::notificationShown);
    connect(events, &TaviWebModuleInternal::PageEvents::notificationClosed, this,
            &VmsWebWidgets::notificationClosed);
    connect(events, &TaviWebModuleInternal::PageEvents::newWindowRequested, this,
            &VmsWebWidgets::newWindowRequested);
    connect(events, &TaviWebModuleInternal::PageEvents::contextMenuRequested, this,
            &VmsWebWidgets::contextMenuRequested);
    connect(events, &TaviWebModuleInternal::PageEvents::printRequested, this,
            &VmsWebWidgets::printRequested);
    connect(events, &TaviWebModuleInternal::PageEvents::fullScreenChanged, this,
            &VmsWebWidgets::fullScreenChanged);
    new TaviWebModuleInternal::PageNotifications(m_pPage);
    if (auto* permissions = TaviWebModuleInternal::PagePermissions::of(m_pPage))
        permissions->setHostListens([this] {
            return isSignalConnected(QMetaMethod::fromSignal(&VmsWebWidgets::permissionRequested));
        });

    m_pProfile = profile ? profile : QWebEngineProfile::defaultProfile();
    TaviWebModuleInternal::prepareProfile(m_pProfile);
    m_pProfile->setDownloadPath(QDir::homePath());
    connect(m_pProfile, &QWebEngineProfile::downloadRequested, m_pPage,
            &CWebPage::DownloadRequested);

    m_pView = new MyWebEngineView(m_pParent);
    m_pView->setPage(m_pPage);

    m_pView->setAttribute(Qt::WA_DontCreateNativeAncestors, true);
    m_pView->setAttribute(Qt::WA_ShowWithoutActivating, true);
    m_pView->setFocusPolicy(Qt::NoFocus);
    m_pView->setWindowFlag(Qt::FramelessWindowHint, true);
    // New windows, the context menu, printing, full screen, the skin's colours.
    new TaviWebModuleInternal::PageBrowser(m_pPage, m_pView);

    QPalette palette;
    palette.setBrush(
        QPalette::All, QPalette::Window,
        QBrush(QColor::fromString(taviSkinMgr()->dlgBackgroundColor()), Qt::SolidPattern));
    m_pView->setPalette(palette);
    m_pView->page()->setBackgroundColor(QColor::fromString(taviSkinMgr()->dlgBackgroundColor()));

    m_pWebComm = new CWebComm(this);
    m_pChannel = new QWebChannel(nullptr);
    // The gate puts the bridge on the channel for trusted documents only.
    auto* gate = new TaviWebModuleInternal::BridgeGate(m_pWebComm, m_pPage, m_pChannel);
    m_pView->page()->setWebChannel(m_pChannel, QWebEngineScript::MainWorld);
    // Events pushed before the page's channel is up may find no page
    // function yet; hosts wait for this signal instead. Only a trusted
    // document's own client counts.
    connect(new TaviWebModuleInternal::BridgeReadyProbe(m_pPage, m_pChannel),
            &TaviWebModuleInternal::BridgeReadyProbe::connected, this, [this, gate] {
                if (gate->trusted())
                    Q_EMIT bridgeConnected();
            });

    m_pView->show();

    // Host events are for trusted documents only: the one the gate trusts,
    // and only if it is still there when the push runs.
    auto* push = new TaviWebModuleInternal::PagePush(
        m_pPage,
        [gate = QPointer(gate)] {
            if (!(gate ? TaviWebModuleInternal::policyFor(gate->page()) : WebAccessPolicy::global())
                     .restrictsOrigins())
                return QStringLiteral("true");
            if (!gate || !gate->trusted())
                return QString();
            return TaviWebModuleInternal::documentCheck(gate->documentUrl());
        },
        this,
        // The device statuses a page missed reach it as the host's whole
        // status, as GetDevStatus gives it.
        [](std::function<void(const QString&)> deliver) {
            std::list<std::string> ids;
            DeviceStatusMap status;
            WebViewDataCenter::GetInstance()->GetDeviceStatus(ids, status);
            TaviWebModuleInternal::writeDeviceStatus(status, std::move(deliver));
        });
    initHealth(push);

    connect(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitInfoNotifyEx, this,
            &VmsWebWidgets::InfoNotifySlotEx);
    // By signature text: hosts and tools find the device push as
    // "emitDevStatus(QString)", so that signature must stay as it is.
    connect(WebViewDataCenter::GetInstance(), SIGNAL(emitDevStatus(QString)), this,
            SLOT(DevStatusNotifySlot(QString)));
    connect(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitDataCacheNotify, this,
            &VmsWebWidgets::DataCacheNotifySlot);
    connect(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitInfoNotify, this,
            &VmsWebWidgets::InfoNotifySlot);
    connect(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitServerRespone, this,
            &VmsWebWidgets::ServerResponeSlot);

    connect(m_pPage, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                onRenderProcessTerminated(int(status), exitCode);
            });

    connect(
        m_pPage, &QWebEnginePage::loadFinished, m_pPage,
        [this](bool) {
            m_bLoading = false;
            if (m_pView)
                m_pView->setFixedSize(m_nWidth, m_nHeight);
        },
        Qt::DirectConnection);
}

VmsWebWidgets::~VmsWebWidgets()
{
    if (m_pWebComm) {
        delete m_pWebComm;
        m_pWebComm = nullptr;
    }
    if (m_pChannel) {
        delete m_pChannel;
        m_pChannel = nullptr;
    }
    if (m_pPage) {
        delete m_pPage;
        m_pPage = nullptr;
    }
    // The parent widget may already have deleted the view; the guard is null then.
    if (m_pView) {
        delete m_pView.data();
        m_pView = nullptr;
    }
}

QWebEngineProfile* VmsWebWidgets::profile() const
{
    return m_pProfile;
}

QWebEngineProfile* VmsWebWidgets::persistentProfile(const QString& storageName,
                                                    const QString& folder)
{
    return TaviWebModuleInternal::persistentProfile(storageName, folder);
}

void VmsWebWidgets::setDefaultProfile(QWebEngineProfile* profile)
{
    TaviWebModuleInternal::setPagesProfile(profile);
}

QWebEngineProfile* VmsWebWidgets::defaultProfile()
{
    QWebEngineProfile* profile = TaviWebModuleInternal::pagesProfile();
    return profile ? profile : QWebEngineProfile::defaultProfile();
}

bool VmsWebWidgets::answerPermission(const QString& origin, WebAccessPolicy::Feature feature,
                                     bool granted)
{
    auto* permissions = TaviWebModuleInternal::PagePermissions::of(m_pPage);
    return permissions && permissions->answer(origin, feature, granted);
}

bool VmsWebWidgets::clickNotification(const QString& id)
{
    auto* notifications = TaviWebModuleInternal::PageNotifications::of(m_pPage);
    return notifications && notifications->click(id);
}

bool VmsWebWidgets::closeNotification(const QString& id)
{
    auto* notifications = TaviWebModuleInternal::PageNotifications::of(m_pPage);
    return notifications && notifications->close(id);
}

void VmsWebWidgets::setAccessPolicy(WebAccessPolicy* policy)
{
    if (auto* own = TaviWebModuleInternal::PagePolicy::of(m_pPage))
        own->set(policy);
}

WebAccessPolicy& VmsWebWidgets::accessPolicy() const
{
    return TaviWebModuleInternal::policyFor(m_pPage);
}

MyWebEngineView* VmsWebWidgets::view() const
{
    return m_pView.data();
}

void VmsWebWidgets::SetParent(QWidget* parent)
{
    m_pParent = parent;
}

void VmsWebWidgets::OpenUrl(const QString& url)
{
    m_bLoading = true;
    if (m_pView)
        m_pView->setUrl(QUrl(url, QUrl::TolerantMode));
}

void VmsWebWidgets::setFixedSize(int w, int h)
{
    if (!m_bLoading && m_pView)
        m_pView->setFixedSize(w, h);
    m_nWidth = w;
    m_nHeight = h;
}

void VmsWebWidgets::reload()
{
    using TaviWebModuleInternal::PageHealth;
    // A page that does not answer would not take a reload either.
    const PageHealth* health = TaviWebModuleInternal::sideObject<PageHealth>(this);
    if (health && !health->answering() && m_pPage->renderProcessPid() > 0) {
        restartRenderer();
        return;
    }
    if (auto* error = TaviWebModuleInternal::ErrorState::of(m_pView))
        error->hide();
    if (m_pView)
        m_pView->reload();
}

QString VmsWebWidgets::pageId() const
{
    return TaviWebModuleInternal::pageIdOf(m_pPage);
}

void VmsWebWidgets::setCopyProgressInterval(int ms)
{
    TaviWebModuleInternal::CopyProgressInterval::set(m_pWebComm, ms);
}

int VmsWebWidgets::copyProgressInterval() const
{
    return TaviWebModuleInternal::CopyProgressInterval::of(m_pWebComm);
}

void VmsWebWidgets::setBlockingBudget(int budgetMs, int windowMs)
{
    using TaviWebModuleInternal::BlockingBudget;
    using TaviWebModuleInternal::BlockingLimits;
    std::optional<BlockingLimits> limits;
    if (budgetMs >= 0)
        limits = BlockingLimits { budgetMs, windowMs };
    if (BlockingBudget* budget = BlockingBudget::of(m_pPage))
        budget->setLimits(limits);
}

int VmsWebWidgets::blockingBudgetMs() const
{
    using TaviWebModuleInternal::BlockingBudget;
    const BlockingBudget* budget = BlockingBudget::of(m_pPage);
    return (budget ? budget->limits() : BlockingBudget::defaultLimits()).budgetMs;
}

int VmsWebWidgets::blockingWindowMs() const
{
    using TaviWebModuleInternal::BlockingBudget;
    const BlockingBudget* budget = BlockingBudget::of(m_pPage);
    return (budget ? budget->limits() : BlockingBudget::defaultLimits()).windowMs;
}

void VmsWebWidgets::setDefaultBlockingBudget(int budgetMs, int windowMs)
{
    TaviWebModuleInternal::BlockingBudget::setDefaultLimits({ budgetMs, windowMs });
}

bool VmsWebWidgets::isFullScreen() const
{
    const auto* browser = TaviWebModuleInternal::PageBrowser::of(m_pPage);
    return browser && browser->isFullScreen();
}

void VmsWebWidgets::exitFullScreen()
{
    if (auto* browser = TaviWebModuleInternal::PageBrowser::of(m_pPage))
        browser->exitFullScreen();
}

// ---- Page event push --------------------------------------------------------

using TaviWebModuleInternal::removeLineFeeds;

void VmsWebWidgets::InfoNotifySlot(QString message)
{
    const QString text = removeLineFeeds(message);
    if (text.contains(QLatin1String("userToken"))) {
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
        const QString token = doc.object()
                                  .value(QLatin1String("data"))
                                  .toObject()
                                  .value(QLatin1String("token"))
                                  .toString();
        pushToPage(QLatin1String("emitUserToken"), { token });
        return;
    }
    pushToPage(QLatin1String("emitInfoNotify"), { text });
}

void VmsWebWidgets::InfoNotifySlotEx(QString message, QString sn)
{
    pushToPage(QLatin1String("emitHostResponse"), { message, sn });
}

void VmsWebWidgets::DevStatusNotifySlot(QString message)
{
    // The line feeds go on the way into the script: the text may be
    // megabytes long and is shared with every other page.
    pushToPage(QLatin1String("emitDevStatus"), { message }, true);
}

void VmsWebWidgets::DataCacheNotifySlot(QString key, QString value)
{
    pushToPage(QLatin1String("emitDataCacheNotify"), { key, value });
}

void VmsWebWidgets::ServerResponeSlot(QString sn, int ack, QString msg)
{
    pushToPage(QLatin1String("emitServerRespone"), { sn, QString::number(ack), msg });
}

namespace {

constexpr int kMaxCrashReloads = 3;
constexpr qint64 kCrashWindowMs = 60000;

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QString terminationName(int status)
{
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus:
        return QStringLiteral("normal");
    case QWebEnginePage::AbnormalTerminationStatus:
        return QStringLiteral("abnormal");
    case QWebEnginePage::CrashedTerminationStatus:
        return QStringLiteral("crashed");
    default:
        return QStringLiteral("killed");
    }
}

// How long a reload after a crash may take before it is tried again, and
// how often it is tried in all.
constexpr int kReloadRetryMs = 10000;
constexpr int kReloadTries = 3;

// Reloads a page whose renderer died, on the engine's next turn, until the
// page is back: under load the engine sometimes drops a reload made right
// after the renderer died, and the page would stay dead. "Finished ok" is
// not enough: a reload stopped early may finish ok with no new document, or
// with one whose scripts never ran. So a page whose channel client had
// connected is back when it connects again; any other (or another address
// the host went to meanwhile) when a load finished ok and a new document
// showed. A child of the page; gone once the page is back, or after the
// last try.
class CrashReload : public QObject
{
public:
    // gaveUp: after the last try.
    CrashReload(QWebEnginePage* page, std::function<void()> gaveUp)
        : QObject(page)
        , m_page(page)
        , m_url(page->url())
        , m_origin(TaviWebModuleInternal::DocumentOrigin::of(page))
    {
        using TaviWebModuleInternal::BridgeReadyProbe;
        if (BridgeReadyProbe* probe = BridgeReadyProbe::of(page); probe && probe->reported()) {
            m_bridged = true;
            connect(probe, &BridgeReadyProbe::connected, this, [this] {
                if (m_tries > 0)
                    back();
            });
        }
        // A renderer that dies again starts the tries afresh. (By name: this
        // class has no meta-object of its own to find it by.)
        const QLatin1String name("tavi-crash-reload");
        for (QObject* older : page->findChildren<QObject*>(name, Qt::FindDirectChildrenOnly))
            delete older;
        setObjectName(name);
        connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
            m_loaded = ok;
            backYet();
        });
        if (m_origin)
            connect(m_origin, &TaviWebModuleInternal::DocumentOrigin::changed, this,
                    &CrashReload::backYet);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this, gaveUp = std::move(gaveUp)] {
            if (m_tries == kReloadTries) {
                qCWarning(lcWebModule) << "The page did not come back after its renderer ended:"
                                       << m_page->url().toString() << "- giving up";
                gaveUp();
                deleteLater();
                return;
            }
            qCWarning(lcWebModule) << "The page did not come back after its renderer ended:"
                                   << m_page->url().toString() << "- reloading again";
            reload();
        });
        QTimer::singleShot(0, this, &CrashReload::reload);
    }

private:
    void reload()
    {
        ++m_tries;
        m_loaded = false;
        m_before = documentShown();
        m_page->triggerAction(QWebEnginePage::Reload);
        m_timer.start(kReloadRetryMs);
    }

    QString documentShown() const { return m_origin ? m_origin->document() : QString(); }

    // The document's report and the load's end come in either order.
    void backYet()
    {
        if ((m_bridged && m_page->url() == m_url) || m_tries == 0 || !m_loaded)
            return;
        const QString document = documentShown();
        if (!m_origin || (!document.isEmpty() && document != m_before))
            back();
    }

    void back()
    {
        m_timer.stop();
        deleteLater();
    }

    QWebEnginePage* m_page; // the parent
    const QUrl m_url;
    QPointer<TaviWebModuleInternal::DocumentOrigin> m_origin;
    QTimer m_timer;
    QString m_before;
    int m_tries = 0;
    bool m_loaded = false;
    bool m_bridged = false;
};

} // namespace

void VmsWebWidgets::onRenderProcessTerminated(int status, int exitCode)
{
    const qint64 now = monotonicMs();
    m_crashReloads.removeIf([now](qint64 at) { return now - at >= kCrashWindowMs; });
    // A page that dies at once after every reload must not loop.
    const bool reloading = m_crashReloads.size() < kMaxCrashReloads;
    const QString url = m_pPage->url().toString();
    qCWarning(lcWebModule) << "The page's renderer ended:" << terminationName(status) << "exit code"
                           << exitCode << url
                           << (reloading ? "- reloading" : "- too often, the page stays down");
    const TaviWebModuleInternal::NotifyingPage from(TaviWebModuleInternal::PageEvents::of(m_pPage));
    TaviWebModuleInternal::sendHostNotice(
        QStringLiteral("renderProcessTerminated"),
        QJsonObject { { QStringLiteral("url"), url },
                      { QStringLiteral("status"), terminationName(status) },
                      { QStringLiteral("exitCode"), exitCode },
                      { QStringLiteral("reloading"), reloading },
                      { QStringLiteral("page"), pageId() } });
    Q_EMIT renderProcessEnded(QWebEnginePage::RenderProcessTerminationStatus(status), reloading);
    if (!reloading) {
        showErrorState(QCoreApplication::translate(
                           "ErrorState", "Its renderer ended (%1) too often within a minute.")
                           .arg(terminationName(status)));
        return;
    }
    m_crashReloads.append(now);
    // Not from inside the page's own signal.
    new CrashReload(m_pPage, [self = QPointer(this)] {
        if (self)
            self->showErrorState(QCoreApplication::translate(
                "ErrorState", "Its renderer ended and the page did not come back."));
    });
}

void VmsWebWidgets::pushToPage(QLatin1String function, std::initializer_list<QString> args,
                               bool dropLineFeeds)
{
    using TaviWebModuleInternal::PagePush;
    if (auto* push = TaviWebModuleInternal::sideObject<PagePush>(this))
        push->push(function, args, dropLineFeeds);
}

// ---- Pages that stop answering -----------------------------------------------

void VmsWebWidgets::initHealth(QObject* pushObject)
{
    using TaviWebModuleInternal::PageHealth;
    auto* push = static_cast<TaviWebModuleInternal::PagePush*>(pushObject);
    auto* health = new PageHealth(m_pPage, m_pView, push, this);
    connect(health, &PageHealth::unresponsive, this, &VmsWebWidgets::pageUnresponsive);
    connect(health, &PageHealth::responsive, this, &VmsWebWidgets::pageResponsive);
    connect(health, &PageHealth::recoveryDue, this, &VmsWebWidgets::restartRenderer);
    connect(push, &TaviWebModuleInternal::PagePush::droppedOverBudget, this,
            &VmsWebWidgets::pushesDropped);
    new TaviWebModuleInternal::ErrorState(m_pView, [this] { reload(); });
    // A page back from a restart takes its error state away.
    connect(m_pPage, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (auto* error = TaviWebModuleInternal::ErrorState::of(m_pView); error && ok)
            error->hide();
    });
}

void VmsWebWidgets::setUnresponsiveTimeout(int ms)
{
    if (auto* health = TaviWebModuleInternal::sideObject<TaviWebModuleInternal::PageHealth>(this))
        health->setTimeoutMs(ms);
}

int VmsWebWidgets::unresponsiveTimeoutMs() const
{
    using TaviWebModuleInternal::PageHealth;
    const auto* health = TaviWebModuleInternal::sideObject<PageHealth>(this);
    return health ? health->timeoutMs() : PageHealth::kDefaultTimeoutMs;
}

void VmsWebWidgets::setAutoRecoveryTimeout(int ms)
{
    if (auto* health = TaviWebModuleInternal::sideObject<TaviWebModuleInternal::PageHealth>(this))
        health->setRecoveryMs(ms);
}

int VmsWebWidgets::autoRecoveryTimeoutMs() const
{
    const auto* health = TaviWebModuleInternal::sideObject<TaviWebModuleInternal::PageHealth>(this);
    return health ? health->recoveryMs() : 0;
}

void VmsWebWidgets::restartRenderer()
{
    const qint64 pid = m_pPage->renderProcessPid();
    qCInfo(lcWebModule).noquote() << QStringLiteral(
                                         "Restarting the page's renderer (process %1): %2")
                                         .arg(pid)
                                         .arg(m_pPage->url().toDisplayString(QUrl::RemovePassword));
    // Its end reaches onRenderProcessTerminated, which reloads the page.
    if (pid > 0 && ::kill(pid_t(pid), SIGKILL) == 0)
        return;
    if (auto* error = TaviWebModuleInternal::ErrorState::of(m_pView))
        error->hide();
    m_pPage->triggerAction(QWebEnginePage::Reload);
}

void VmsWebWidgets::setPushBudget(qint64 bytes)
{
    using TaviWebModuleInternal::PagePush;
    if (auto* push = TaviWebModuleInternal::sideObject<PagePush>(this))
        push->setBudget(qsizetype(bytes));
}

qint64 VmsWebWidgets::pushBudget() const
{
    using TaviWebModuleInternal::PagePush;
    const auto* push = TaviWebModuleInternal::sideObject<PagePush>(this);
    return push ? qint64(push->budget())
                : qint64(TaviWebModuleInternal::PushBacklog::kDefaultBudget);
}

namespace {

// The resident memory of process pid in kB; 0 when unknown.
qint64 residentKb(qint64 pid)
{
    if (pid <= 0)
        return 0;
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readLine().split(' ');
    const long pageKb = sysconf(_SC_PAGESIZE) / 1024;
    return fields.size() > 1 ? fields.at(1).toLongLong() * pageKb : 0;
}

} // namespace

QJsonObject VmsWebWidgets::health() const
{
    using namespace TaviWebModuleInternal;
    const auto* push = sideObject<PagePush>(this);
    const auto* health = sideObject<PageHealth>(this);
    const ErrorState* error = ErrorState::of(m_pView);
    const qint64 pid = m_pPage->renderProcessPid();
    return QJsonObject {
        { QStringLiteral("rendererPid"), pid },
        { QStringLiteral("rendererMemoryKb"), residentKb(pid) },
        { QStringLiteral("pushesSent"), push ? qint64(push->sent()) : 0 },
        { QStringLiteral("pushesWaiting"), push ? qint64(push->waiting()) : 0 },
        { QStringLiteral("pushesInFlight"), push ? qint64(push->inFlight()) : 0 },
        { QStringLiteral("pushesReplaced"), push ? qint64(push->replaced()) : 0 },
        { QStringLiteral("pushesDropped"), push ? qint64(push->dropped()) : 0 },
        { QStringLiteral("bridgeCalls"), health ? qint64(health->bridgeCalls()) : 0 },
        { QStringLiteral("bridgeRefusals"), health ? qint64(health->refusals()) : 0 },
        { QStringLiteral("msSinceAnswer"), health ? health->msSinceAnswer() : 0 },
        { QStringLiteral("answering"), !health || health->answering() },
        { QStringLiteral("errorState"), error && error->isVisible() },
    };
}

void VmsWebWidgets::showErrorState(const QString& detail)
{
    auto* error = TaviWebModuleInternal::ErrorState::of(m_pView);
    if (!error)
        return;
    error->showWith(detail);
    qCWarning(lcWebModule).noquote()
        << QStringLiteral("The page stays down: %1 (%2)")
               .arg(detail, m_pPage->url().toDisplayString(QUrl::RemovePassword));
    Q_EMIT errorStateShown();
}
