#include "DemoHost.h"

#include "ControlServer.h"
#include "DemoFiles.h"
#include "DemoMedia.h"
#include "DevToolsProxy.h"
#include "HostScenario.h"
#include "PageWatcher.h"
#include "RelaySimulation.h"
#include "RequestGate.h"

#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSaveFile>
#include <QtCore/QTimer>
#include <QtGui/QFontDatabase>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtWebEngineCore/QWebEngineLoadingInfo>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWebEngineCore/QWebEngineScriptCollection>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QVBoxLayout>
#include <TaviSim.h>
#include <TaviWebPage.h>
#include <WebAccessPolicy.h>
#include <WebViewDataCenter.h>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

DemoHost* DemoHost::s_instance = nullptr;

namespace {

// The inspector's page: its own console is no line of the page it inspects.
class InspectorPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override
    {}
};

bool offscreen()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

// The windows a page opens through the module, and the file dialogs.
bool isPageDialog(const QWidget* w)
{
    return w->inherits("PlayVideoDialog") || w->inherits("ImageDialog")
        || w->inherits("CMessageBox") || qobject_cast<const QFileDialog*>(w);
}

} // namespace

DemoHost::DemoHost(const Options& options)
    : m_options(options)
{
    s_instance = this;
    setWindowTitle(QStringLiteral("Tavi demo host"));

    // What a real host does once at start: the SDK and its answer path.
    TaviSim::installClientSdk();
    // The page's storage lasts from one run to the next, as a desktop web
    // app's does.
    VmsWebWidgets::setDefaultProfile(
        VmsWebWidgets::persistentProfile(QStringLiteral("tavi-demo"), m_options.profileFolder));
    // Before the page: it publishes the samples.
    auto* media = new DemoMedia(this, m_options.closeDialogsMs);
    TaviSim::setResponseHandler(
        [](__tagKelCommand* cmd) { WebViewDataCenter::GetInstance()->FuncResponeCallback(cmd); });

    // The two host-bound signals carry references: direct delivery only.
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    connect(dc, &WebViewDataCenter::emitFuncWebNotify, this, &DemoHost::onWebNotify,
            Qt::DirectConnection);
    connect(dc, &WebViewDataCenter::emitFuncInfoCenterNotify, this, &DemoHost::onInfoCenterNotify,
            Qt::DirectConnection);
    m_pScenario = m_options.scenario ? m_options.scenario : std::make_shared<HostScenario>();
    m_pRelay = std::make_unique<RelaySimulation>(m_options.scenario ? m_pScenario->tour() : true,
                                                 m_options.scenario ? m_pScenario->seed() : 0);
    // Its devices are there before the page asks for them.
    m_pScenario->start(m_pRelay.get());

    auto* splitter = new QSplitter(this);
    m_pTabs = new QTabWidget(splitter);
    m_pTabs->setDocumentMode(true);
    auto* files = new DemoFiles(this, m_options.closeDialogsMs > 0); // before the page loads
    lockDown(media->folder(), files->folder(), files->serverUrl());
    m_pPage = new TaviWebPage(this, m_options.url.toString(QUrl::FullyEncoded));
    m_pTabs->addTab(m_pPage, QStringLiteral("Web page"));
    connect(m_pPage, &TaviWebPage::notificationShown, this,
            [this](const QString& id, const QString& title, const QString& body, const QString& tag,
                   const QString& origin) {
                record(QStringLiteral("host"),
                       QStringLiteral("notification %1 from %2: %3 - %4 (tag %5)")
                           .arg(id, origin, title, body, tag));
            });
    connect(m_pPage->webWidgets()->view()->page(), &QWebEnginePage::loadingChanged, this,
            &DemoHost::onLoadingChanged);
    if (m_options.health)
        watchHealth();
    if (m_options.watch) {
        const QString folder = QFileInfo(m_options.url.toLocalFile()).absolutePath();
        auto* watcher = new PageWatcher(folder, this);
        connect(watcher, &PageWatcher::changed, this, [this](const QString& path) {
            record(QStringLiteral("host"),
                   QStringLiteral("reloading the page: %1 changed").arg(path));
            m_pPage->webWidgets()->view()->reload();
        });
        record(
            QStringLiteral("host"),
            QStringLiteral("watching %1: the page reloads when a file there changes").arg(folder));
    }

    auto* side = new QWidget(splitter);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(6, 6, 6, 6);
    sideLayout->addWidget(
        new QLabel(QStringLiteral("Transcript: the page's console, the module, the host"), side));
    m_pHostLog = new QPlainTextEdit(side);
    m_pHostLog->setReadOnly(true);
    m_pHostLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pHostLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    sideLayout->addWidget(m_pHostLog);
    splitter->addWidget(m_pTabs);
    splitter->addWidget(side);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);
    resize(1400, 860);
    splitter->setSizes({ 960, 440 });

    connect(this, &DemoHost::lineRecorded, m_pHostLog, &QPlainTextEdit::appendPlainText,
            Qt::QueuedConnection);

    if (m_options.quitAfterMs > 0)
        QTimer::singleShot(m_options.quitAfterMs, this, [this] { finish(); });
    auto* hostLogTimer = new QTimer(this);
    connect(hostLogTimer, &QTimer::timeout, this, &DemoHost::forwardHostLog);
    hostLogTimer->start(300);

    record(QStringLiteral("host"),
           QStringLiteral("opening %1").arg(m_options.url.toDisplayString()));
    if (m_options.serve) {
        m_secret = RequestGate::newSecret();
        startControl();
    }
    if (m_options.devTools)
        openDevTools();
}

void DemoHost::lockDown(const QString& samples, const QString& exports, const QUrl& server)
{
    // What a client whose pages come from its own server does: the bridge
    // for its own pages only (here the demo's, its download server's and a
    // page the user names), files in its own folders only, and links
    // elsewhere refused (the host hears of them).
    QStringList origins { QStringLiteral("qrc:"), WebAccessPolicy::originOf(server),
                          WebAccessPolicy::originOf(m_options.url) };
    origins.removeDuplicates();
    WebAccessPolicy& policy = WebAccessPolicy::global();
    policy.setTrustedOrigins(origins);
    policy.setFileRoots({ samples }, { exports });
    policy.setNavigationPolicy(WebAccessPolicy::TrustedOnly);
    // Its pages' web notifications go to the info-centre log.
    policy.setPermission(WebAccessPolicy::Notifications, WebAccessPolicy::Grant);
    record(QStringLiteral("host"),
           QStringLiteral("trusted origins %1; files read in %2, written in %3; TrustedOnly")
               .arg(origins.join(QStringLiteral(", ")), samples, exports));
}

DemoHost::~DemoHost()
{
    delete m_pDevTools.data(); // inspects the page: goes first
    m_pRelay.reset(); // its thread records into this host
    TaviSim::setResponseHandler(nullptr);
    s_instance = nullptr;
}

void DemoHost::record(const QString& source, const QString& text)
{
    const QString line
        = QStringLiteral("%1 [%2] %3")
              .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")), source, text);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_transcript << line;
    }
    emit lineRecorded(line);
}

void DemoHost::note(const QString& text, const QString& source)
{
    if (s_instance)
        s_instance->record(source, text);
}

void DemoHost::onWebNotify(QString& msg, QString& sn)
{
    record(QStringLiteral("host"), QStringLiteral("emitFuncWebNotify msg=%1 sn=%2").arg(msg, sn));

    const QJsonObject request = QJsonDocument::fromJson(msg.toUtf8()).object();
    if (request.value(QStringLiteral("demo")).toString() == QLatin1String("tour-finished")) {
        if (m_options.quitWhenTourEnds)
            QTimer::singleShot(500, this, [this] { finish(); }); // let the page paint first
        return;
    }
    if (m_pScenario->takeNotification(msg, sn) || m_pRelay->takeNotification(msg, sn))
        return;

    // Answer every notification; a synchronous caller gets it at once, an
    // asynchronous one as emitHostResponse with its own sn.
    QJsonObject answer { { QStringLiteral("ok"), true },
                         { QStringLiteral("answeredBy"), QStringLiteral("demo host") },
                         { QStringLiteral("received"), msg } };
    const QString text = QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact));
    WebViewDataCenter::GetInstance()->NotifyResult(text, sn);
}

void DemoHost::onInfoCenterNotify(QString& message)
{
    record(QStringLiteral("host"),
           QStringLiteral("emitFuncInfoCenterNotify %1").arg(QString(message).simplified()));
    m_pRelay->onHostNotice(message);
}

void DemoHost::publishToPages(const QString& name, const QJsonObject& data)
{
    QWebEngineScript script;
    script.setName(name);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setSourceCode(
        QStringLiteral("window.%1 = %2;")
            .arg(name, QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact))));
    VmsWebWidgets::defaultProfile()->scripts()->insert(script);
}

void DemoHost::notePageError()
{
    if (s_instance)
        s_instance->m_bPageError = true;
}

void DemoHost::startControl()
{
    m_pControl = new ControlServer(RequestGate(m_secret, m_options.allowedOrigins, false), this);
    m_pControl->route(QStringLiteral("/stop"), [this](const QJsonObject&) {
        // After the answer has gone.
        QTimer::singleShot(0, this, [this] { finish(); });
        return ControlServer::Answer { 200, { { QStringLiteral("stopping"), true } } };
    });
    m_pScenario->addControls(m_pControl);
    m_pControl->route(QStringLiteral("/transcript"), [this](const QJsonObject&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return ControlServer::Answer {
            200, { { QStringLiteral("text"), m_transcript.join(QLatin1Char('\n')) } }
        };
    });
    if (!m_pControl->start())
        record(QStringLiteral("host"),
               QStringLiteral("the control endpoint could not listen: %1")
                   .arg(m_pControl->errorString()));
    else
        record(QStringLiteral("host"),
               QStringLiteral("control endpoint on %1 (with the run's secret, to no web page)")
                   .arg(m_pControl->baseUrl()));
}

void DemoHost::announceReady(const QString& devTools, const QString& browserWebSocket)
{
    if (m_bAnnounced || !m_options.serve)
        return;
    m_bAnnounced = true;
    // Standard output goes to the process that started the host, and the
    // secret nowhere else: not to the transcript.
    const QJsonObject ready {
        { QStringLiteral("devtools"), devTools },
        { QStringLiteral("browserWSEndpoint"), browserWebSocket },
        { QStringLiteral("secret"), QString::fromLatin1(m_secret) },
        { QStringLiteral("control"),
          m_pControl && m_pControl->isListening() ? QJsonValue(m_pControl->baseUrl())
                                                  : QJsonValue() },
        { QStringLiteral("pid"), qint64(::getpid()) },
        { QStringLiteral("url"), m_options.url.toString() },
    };
    std::printf("%s%s\n", kReadyPrefix,
                QJsonDocument(ready).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    record(QStringLiteral("host"), QStringLiteral("ready for automated browsers"));
}

void DemoHost::onLoadingChanged(const QWebEngineLoadingInfo& info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
        m_pScenario->pageLoaded();
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus
        && m_options.remoteDebuggingPort > 0) {
        checkRemoteDebugging();
        m_options.remoteDebuggingPort = 0; // once
    }
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return;
    // Chromium's text for an HTTP status is its error page's template.
    const QString why = info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain
        ? QStringLiteral("HTTP status %1").arg(info.errorCode())
        : QStringLiteral("%1 (error %2)").arg(info.errorString()).arg(info.errorCode());
    record(QStringLiteral("host"),
           QStringLiteral("the page did not load: %1: %2").arg(info.url().toDisplayString(), why));
    // Nobody is there to read Chromium's error page.
    if (m_options.unattended)
        finish(kExitPageNotLoaded);
}

void DemoHost::openDevTools()
{
    // A window of its own, as a browser's detached inspector.
    m_pDevTools = new QWebEngineView;
    m_pDevTools->setAttribute(Qt::WA_DeleteOnClose);
    m_pDevTools->setWindowTitle(
        QStringLiteral("DevTools: %1").arg(m_options.url.toDisplayString()));
    m_pDevTools->setPage(new InspectorPage(m_pDevTools));
    m_pDevTools->resize(1000, 700);
    connect(m_pDevTools->page(), &QWebEnginePage::loadFinished, this, [this](bool ok) {
        record(QStringLiteral("host"),
               ok ? QStringLiteral("DevTools loaded: %1 inspects the page")
                        .arg(m_pDevTools->url().toDisplayString())
                  : QStringLiteral("DevTools did not load"));
    });
    m_pPage->webWidgets()->view()->page()->setDevToolsPage(m_pDevTools->page());
    m_pDevTools->show();
}

void DemoHost::checkRemoteDebugging()
{
    // What a browser finds there: the pages it can inspect.
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_options.remoteDebuggingPort);
    auto* network = new QNetworkAccessManager(this);
    QNetworkReply* reply = network->get(QNetworkRequest(QUrl(base + QStringLiteral("/json/list"))));
    connect(reply, &QNetworkReply::finished, this, [this, reply, network, base] {
        QStringList pages;
        const QJsonArray targets = QJsonDocument::fromJson(reply->readAll()).array();
        for (const QJsonValue& target : targets)
            if (target[QLatin1String("type")].toString() == QLatin1String("page"))
                pages << target[QLatin1String("url")].toString();
        if (reply->error() == QNetworkReply::NoError) {
            record(QStringLiteral("host"),
                   QStringLiteral("remote debugging on %1 (loopback only), pages: %2")
                       .arg(base, pages.join(QLatin1String(", "))));
            if (m_options.serve)
                serveDevTools(base);
        } else {
            record(QStringLiteral("host"),
                   QStringLiteral("remote debugging: nothing answers on %1: %2")
                       .arg(base, reply->errorString()));
            // A served run is of no use without it.
            if (m_options.serve)
                finish(1);
        }
        network->deleteLater();
    });
}

void DemoHost::serveDevTools(const QString& engineBase)
{
    auto* network = new QNetworkAccessManager(this);
    QNetworkReply* reply
        = network->get(QNetworkRequest(QUrl(engineBase + QStringLiteral("/json/version"))));
    connect(reply, &QNetworkReply::finished, this, [this, reply, network, engineBase] {
        network->deleteLater();
        // The browser's WebSocket, ws://<engine>/devtools/browser/<id>.
        const QString browser = QUrl(QJsonDocument::fromJson(reply->readAll())
                                         .object()
                                         .value(QLatin1String("webSocketDebuggerUrl"))
                                         .toString())
                                    .path();
        m_pDevToolsProxy = new DevToolsProxy(RequestGate(m_secret, m_options.allowedOrigins, true),
                                             quint16(QUrl(engineBase).port()), this);
        if (reply->error() != QNetworkReply::NoError
            || !browser.startsWith(QLatin1String("/devtools/browser/"))
            || !m_pDevToolsProxy->start()) {
            record(QStringLiteral("host"),
                   QStringLiteral("DevTools could not be served: %1")
                       .arg(reply->error() != QNetworkReply::NoError ? reply->errorString()
                                : !browser.startsWith(QLatin1String("/devtools/browser/"))
                                ? QStringLiteral("no browser in /json/version")
                                : m_pDevToolsProxy->errorString()));
            finish(1);
            return;
        }
        record(QStringLiteral("host"),
               QStringLiteral("DevTools for automated browsers on %1 (with the run's secret, to "
                              "no web page); the engine's own port is not announced")
                   .arg(m_pDevToolsProxy->baseUrl()));
        announceReady(m_pDevToolsProxy->baseUrl(), m_pDevToolsProxy->webSocketUrl(browser));
    });
}

void DemoHost::forwardHostLog()
{
    static const QRegularExpression consoleMessage(
        QStringLiteral("^\\[PageConsole\\] (info|warning|error) "));
    const QStringList lines = TaviSim::logLines();
    if (lines.size() < m_nHostLogLinesSeen)
        m_nHostLogLinesSeen = 0; // the log was cleared
    for (int i = m_nHostLogLinesSeen; i < lines.size(); ++i)
        if (!consoleMessage.match(lines.at(i)).hasMatch())
            record(QStringLiteral("host log"), lines.at(i));
    m_nHostLogLinesSeen = lines.size();
}

QPixmap DemoHost::screenshot()
{
    // On a display the picture is what the screen shows, the web view as
    // composed into the window.
    if (!offscreen() && screen()) {
        const QRect area = geometry().translated(-screen()->geometry().topLeft());
        const QPixmap shot
            = screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        if (!shot.isNull())
            return shot;
    }
    // Offscreen every window draws itself: the page's dialogs go onto the
    // host's window where they are, as a screen would show them, the modal
    // ones on top.
    QPixmap shot = grab();
    QList<QWidget*> dialogs;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && isPageDialog(w))
            dialogs << w;
    std::stable_partition(dialogs.begin(), dialogs.end(),
                          [](const QWidget* w) { return !w->isModal(); });
    QPainter painter(&shot);
    for (QWidget* w : dialogs)
        painter.drawPixmap(w->geometry().topLeft() - geometry().topLeft(), w->grab());
    return shot;
}

bool DemoHost::writeOutputs()
{
    bool ok = true;
    if (!m_options.screenshotPath.isEmpty()) {
        if (screenshot().save(m_options.screenshotPath, "PNG")) {
            record(QStringLiteral("host"),
                   QStringLiteral("screenshot written to %1").arg(m_options.screenshotPath));
        } else {
            record(
                QStringLiteral("host"),
                QStringLiteral("could not write the screenshot %1").arg(m_options.screenshotPath));
            ok = false;
        }
    }
    if (!m_options.transcriptPath.isEmpty()) {
        QSaveFile file(m_options.transcriptPath);
        QStringList lines;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            lines = m_transcript;
        }
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text)
            || file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n') < 0 || !file.commit()) {
            ok = false;
        }
    }
    return ok;
}

QList<TaviWebPage*> DemoHost::webTabs() const
{
    QList<TaviWebPage*> tabs;
    for (int i = 0; i < m_pTabs->count(); ++i)
        if (auto* tab = qobject_cast<TaviWebPage*>(m_pTabs->widget(i)))
            tabs << tab;
    return tabs;
}

void DemoHost::watchHealth()
{
    for (TaviWebPage* tab : webTabs()) {
        connect(tab, &TaviWebPage::pageUnresponsive, this, [this, tab](int silentMs) {
            recordHealth(tab, QStringLiteral("stopped answering (%1 ms silent)").arg(silentMs));
        });
        connect(tab, &TaviWebPage::pageResponsive, this, [this, tab](int goneMs) {
            recordHealth(tab, QStringLiteral("answers again after %1 ms").arg(goneMs));
        });
        connect(tab, &TaviWebPage::pushesDropped, this, [this, tab](int count) {
            recordHealth(tab, QStringLiteral("dropped %1 pushes over its budget").arg(count));
        });
        connect(tab, &TaviWebPage::errorStateShown, this,
                [this, tab] { recordHealth(tab, QStringLiteral("shows its error state")); });
    }
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        for (TaviWebPage* tab : webTabs())
            recordHealth(tab, QString());
    });
    timer->start(kHealthEveryMs);
}

void DemoHost::recordHealth(TaviWebPage* tab, const QString& what)
{
    const QString figures = QString::fromUtf8(
        QJsonDocument(tab->webWidgets()->health()).toJson(QJsonDocument::Compact));
    const QString name = m_pTabs->tabText(m_pTabs->indexOf(tab));
    record(QStringLiteral("host"),
           what.isEmpty() ? QStringLiteral("health of tab \"%1\": %2").arg(name, figures)
                          : QStringLiteral("tab \"%1\" %2: %3").arg(name, what, figures));
}

void DemoHost::finish(int exitCode)
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    if (m_options.health)
        for (TaviWebPage* tab : webTabs())
            recordHealth(tab, QString());
    // The screen's picture is of the host's window: on a display the video
    // windows go first and the window repaints where they were. Offscreen
    // the picture shows them.
    if (!offscreen())
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("PlayVideoDialog"))
                w->close();
    QTimer::singleShot(300, this, [this, exitCode] {
        int code = exitCode;
        if (code == 0 && m_options.failOnPageError && m_bPageError) {
            record(QStringLiteral("host"), QStringLiteral("the page left an error uncaught"));
            code = kExitPageError;
        }
        const bool ok = writeOutputs();
        QCoreApplication::exit(code != 0 ? code : ok ? 0 : 1);
    });
}
