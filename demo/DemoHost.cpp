#include "DemoHost.h"

#include "DemoFiles.h"
#include "DemoMedia.h"
#include "RelaySimulation.h"

#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSaveFile>
#include <QtCore/QTimer>
#include <QtGui/QFontDatabase>
#include <QtGui/QScreen>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWebEngineCore/QWebEngineScriptCollection>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QVBoxLayout>
#include <TaviSim.h>
#include <TaviWebPage.h>
#include <WebAccessPolicy.h>
#include <WebViewDataCenter.h>

DemoHost* DemoHost::s_instance = nullptr;

DemoHost::DemoHost(const Options& options)
    : m_options(options)
{
    s_instance = this;
    setWindowTitle(QStringLiteral("Tavi demo host"));

    // What a real host does once at start: the SDK and its answer path.
    TaviSim::installClientSdk();
    auto* media = new DemoMedia(this, m_options.quitWhenTourEnds); // before the page loads
    TaviSim::setResponseHandler(
        [](__tagKelCommand* cmd) { WebViewDataCenter::GetInstance()->FuncResponeCallback(cmd); });

    // The two host-bound signals carry references: direct delivery only.
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    connect(dc, &WebViewDataCenter::emitFuncWebNotify, this, &DemoHost::onWebNotify,
            Qt::DirectConnection);
    connect(dc, &WebViewDataCenter::emitFuncInfoCenterNotify, this, &DemoHost::onInfoCenterNotify,
            Qt::DirectConnection);
    m_pRelay = std::make_unique<RelaySimulation>();

    auto* splitter = new QSplitter(this);
    m_pTabs = new QTabWidget(splitter);
    m_pTabs->setDocumentMode(true);
    auto* files = new DemoFiles(this, m_options.quitWhenTourEnds); // before the page loads
    lockDown(media->folder(), files->folder(), files->serverUrl());
    m_pPage = new TaviWebPage(this, m_options.url);
    m_pTabs->addTab(m_pPage, QStringLiteral("Web page"));

    auto* side = new QWidget(splitter);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(6, 6, 6, 6);
    sideLayout->addWidget(new QLabel(QStringLiteral("Host: what the module sent"), side));
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
        QTimer::singleShot(m_options.quitAfterMs, this, &DemoHost::finish);

    record(QStringLiteral("host"), QStringLiteral("opening %1").arg(m_options.url));
}

void DemoHost::lockDown(const QString& samples, const QString& exports, const QUrl& server)
{
    // What a client whose pages come from its own server does: the bridge
    // for its own pages only (here the demo's, its download server's and a
    // page the user names), files in its own folders only, and links
    // elsewhere refused (the host hears of them).
    QStringList origins { QStringLiteral("qrc:"), WebAccessPolicy::originOf(server),
                          WebAccessPolicy::originOf(QUrl(m_options.url)) };
    origins.removeDuplicates();
    WebAccessPolicy& policy = WebAccessPolicy::global();
    policy.setTrustedOrigins(origins);
    policy.setFileRoots({ samples }, { exports });
    policy.setNavigationPolicy(WebAccessPolicy::TrustedOnly);
    record(QStringLiteral("host"),
           QStringLiteral("trusted origins %1; files read in %2, written in %3; TrustedOnly")
               .arg(origins.join(QStringLiteral(", ")), samples, exports));
}

DemoHost::~DemoHost()
{
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
            QTimer::singleShot(500, this, &DemoHost::finish); // let the page paint first
        return;
    }
    if (m_pRelay->takeNotification(msg, sn))
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
    QWebEngineProfile::defaultProfile()->scripts()->insert(script);
}

bool DemoHost::writeOutputs()
{
    bool ok = true;
    if (!m_options.screenshotPath.isEmpty()) {
        // On a display the picture is what the screen shows, the web view as
        // composed into the window; offscreen the widgets draw themselves.
        QPixmap shot;
        if (QGuiApplication::platformName() != QLatin1String("offscreen") && screen()) {
            const QRect area = geometry().translated(-screen()->geometry().topLeft());
            shot = screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        }
        if (shot.isNull())
            shot = grab();
        if (shot.save(m_options.screenshotPath, "PNG")) {
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

void DemoHost::finish()
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    // Video windows stay open after the tour; the picture is of the host's
    // window, so they go first and the window repaints where they were.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("PlayVideoDialog"))
            w->close();
    QTimer::singleShot(300, this, [this] {
        const bool ok = writeOutputs();
        QCoreApplication::exit(ok ? 0 : 1);
    });
}
