// What pages get of the browser beyond the bridge: profiles whose storage
// lasts and keeps servers apart, a policy per page, permissions and
// notifications, the clipboard, new windows, the context menu, print and
// PDF, saving the page, blocked requests, the skin's colours, full screen;
// each as the page sees it and as the host is told. Real pages from two
// loopback origins and from files.

#include "TestSupport.h"

#include <DownloadServer.h>
#include <QtCore/QProcess>
#include <QtGui/QClipboard>
#include <QtGui/QDesktopServices>
#include <QtNetwork/QTcpServer>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWidgets/QMenu>
#include <QtWidgets/QVBoxLayout>
#include <SkinMgr.h>
#include <TaviWebPage.h>
#include <WebAccessPolicy.h>
#include <WebPage.h>

using namespace TestSupport;

namespace {

const QByteArray kPlainPage = "<!doctype html><title>page</title><body>page</body>";

// Writes (run "write") or reads back (run "read") localStorage, IndexedDB
// and a session cookie; what it read becomes the page's title.
const char kStorageScript[] = R"JS((function () {
    var write = %1, open = indexedDB.open('tavi', 1);
    function done(text) { document.title = text; }
    open.onupgradeneeded = function () { open.result.createObjectStore('s'); };
    open.onsuccess = function () {
        var tx = open.result.transaction('s', 'readwrite'), store = tx.objectStore('s');
        if (write) {
            localStorage.setItem('k', 'local');
            document.cookie = 'sid=cookie; path=/';
            // Written once committed: a put's own success comes before that,
            // and a host that quits then may lose it.
            store.put('idb', 'k');
            tx.oncomplete = function () { done('written'); };
        } else {
            store.get('k').onsuccess = function (e) {
                done([localStorage.getItem('k'), document.cookie, e.target.result].join(' '));
            };
        }
    };
})())JS";

// One run of a host in a process of its own: the page on a persistent
// profile in TAVI_PROFILE_DIR, served on TAVI_PROFILE_PORT; prints what
// the storage script answered.
int storageRun(int argc, char** argv)
{
    QApplication app(argc, argv);
    DownloadServer server;
    server.addPage("/", kPlainPage);
    if (!server.listen(QHostAddress::LocalHost, qEnvironmentVariableIntValue("TAVI_PROFILE_PORT")))
        return 2;
    QWebEngineProfile* profile
        = VmsWebWidgets::persistentProfile("vms", qEnvironmentVariable("TAVI_PROFILE_DIR"));
    QString answer;
    {
        QWidget parent;
        VmsWebWidgets widgets(profile, &parent);
        if (!profile || !loadPage(widgets, server.url("/")))
            return 3;
        const bool write = qEnvironmentVariable("TAVI_PROFILE_RUN") == "write";
        evalJs(pageOf(widgets), QString(kStorageScript).arg(write));
        if (!waitForJs(pageOf(widgets), "document.title != 'page'"))
            return 4;
        answer = pageOf(widgets)->title();
    }
    std::printf("%s\n", qPrintable(answer));
    return 0;
}

QString originOf(const DownloadServer& s)
{
    return WebAccessPolicy::originOf(s.url("/"));
}

const char kAskNotifications[]
    = "Notification.requestPermission().then(function (r) { document.title = r; }); true";

const char kNotify[] = R"JS(var events = '';
Notification.requestPermission().then(function () {
    var one = new Notification('Title', { body: 'Body', tag: 't1' });
    ['show', 'click', 'close', 'error'].forEach(function (e) {
        one.addEventListener(e, function () { events = (events ? events + ' ' : '') + e; });
    });
}); true)JS";

// The text of the pages printed and saved.
const QByteArray kText = "Incident report 4711";

// The text of a PDF file, as pdftotext reads it.
QString pdfText(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), { path, QStringLiteral("-") });
    return p.waitForFinished(30000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

// A left or right click at the centre of the element selector picks.
bool clickOn(VmsWebWidgets& w, const QString& selector, Qt::MouseButton button)
{
    const QVariantList r = evalJs(pageOf(w),
                                  QString("(function(){var r=document.querySelector('%1')"
                                          ".getBoundingClientRect();return [r.x+r.width/2,"
                                          "r.y+r.height/2];})()")
                                      .arg(selector))
                               .toList();
    return r.size() == 2 && clickInPage(w, QPoint(r[0].toInt(), r[1].toInt()), button);
}

QMenu* shownMenu()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "tavi-context-menu" && w->isVisible())
            return qobject_cast<QMenu*>(w);
    return nullptr;
}

} // namespace

class TestBrowserFeatures : public QObject
{
    Q_OBJECT
    DownloadServer m_a, m_b; // two servers on one address: 127.0.0.1, two ports
    ScratchDir m_dir;
    QList<QUrl> m_desktop;
    QUrl filePage(const QString& name, const QByteArray& body)
    {
        writeFile(m_dir.filePath(name), "<!doctype html><meta charset=utf-8>" + body);
        return QUrl::fromLocalFile(m_dir.filePath(name));
    }
    QUrl httpPage(const QString& path, const QByteArray& body)
    {
        m_a.addPage(path, "<!doctype html><meta charset=utf-8>" + body);
        return m_a.url(path);
    }

public slots:
    void openUrl(const QUrl& url) { m_desktop << url; } // the desktop's browser

private slots:
    void initTestCase()
    {
        for (DownloadServer* s : { &m_a, &m_b }) {
            s->addPage("/", kPlainPage);
            QVERIFY(s->start());
        }
    }
    void cleanup()
    {
        CWebPage::m_strDownloadPath.clear();
        qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    }

    // A page on a persistent profile finds in a second run of its host what
    // the first one stored: local storage, its session cookie, IndexedDB.
    void storageLastsAcrossRuns()
    {
        QTcpServer probe; // a port free now, for both runs
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        QStringList answers;
        for (const char* run : { "write", "read" }) {
            QProcess host;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("TAVI_PROFILE_RUN", run);
            env.insert("TAVI_PROFILE_DIR", m_dir.filePath("profile"));
            env.insert("TAVI_PROFILE_PORT", port);
            host.setProcessEnvironment(env);
            host.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(host.waitForFinished(120000));
            QCOMPARE(host.exitCode(), 0);
            answers << QString::fromUtf8(host.readAllStandardOutput()).trimmed();
        }
        QCOMPARE(answers, QStringList({ "written", "local sid=cookie idb" }));
    }

    // Cookies are the host's, not the port's: two servers on one address
    // share a jar on one profile, and each has its own on a profile of its own.
    void cookieJarPerProfile_data()
    {
        QTest::addColumn<bool>("ownProfiles");
        QTest::addColumn<QString>("cookieOfA");
        QTest::newRow("one profile") << false << "sid=b";
        QTest::newRow("a profile per server") << true << "sid=a";
    }
    void cookieJarPerProfile()
    {
        QFETCH(bool, ownProfiles);
        QFETCH(QString, cookieOfA);
        const QString tag = QTest::currentDataTag();
        QWebEngineProfile* pa
            = VmsWebWidgets::persistentProfile(tag + "-a", m_dir.filePath(tag + "-a"));
        QWebEngineProfile* pb = ownProfiles
            ? VmsWebWidgets::persistentProfile(tag + "-b", m_dir.filePath(tag + "-b"))
            : pa;
        QVERIFY(pa && pb);
        QWidget parent;
        TaviWebPage a(&parent, m_a.url("/").toString(), pa);
        TaviWebPage b(&parent, m_b.url("/").toString(), pb);
        QCOMPARE(a.webWidgets()->profile(), pa);
        // The title is the served page's: the empty first document has an
        // opaque origin and no cookies.
        QVERIFY(waitForJs(pageOf(*a.webWidgets()), "document.title == 'page'"));
        QVERIFY(waitForJs(pageOf(*b.webWidgets()), "document.title == 'page'"));
        evalJs(pageOf(*a.webWidgets()), "document.cookie = 'sid=a'");
        evalJs(pageOf(*b.webWidgets()), "document.cookie = 'sid=b'");
        QCOMPARE(evalJs(pageOf(*a.webWidgets()), "document.cookie").toString(), cookieOfA);
    }

    // A name or a folder is one profile's: asking for it with another is refused.
    void profileNamesAndFoldersAreOneEach()
    {
        QWebEngineProfile* p = VmsWebWidgets::persistentProfile("one", m_dir.filePath("one"));
        QVERIFY(p);
        QCOMPARE(VmsWebWidgets::persistentProfile("one", m_dir.filePath("one")), p);
        LogCapture log;
        QCOMPARE(VmsWebWidgets::persistentProfile("one", m_dir.filePath("two")), nullptr);
        QCOMPARE(VmsWebWidgets::persistentProfile("two", m_dir.filePath("one")), nullptr);
        QCOMPARE(VmsWebWidgets::persistentProfile("", m_dir.filePath("x")), nullptr);
        QCOMPARE(log.lines().filter("refused").size(), 2);
        // Pages without a profile of their own take the one set for them.
        QCOMPARE(VmsWebWidgets::defaultProfile(), QWebEngineProfile::defaultProfile());
        VmsWebWidgets::setDefaultProfile(p);
        VmsWebWidgets onP;
        VmsWebWidgets::setDefaultProfile(nullptr);
        VmsWebWidgets onDefault;
        QCOMPARE(onP.profile(), p);
        QCOMPARE(pageOf(onP)->profile(), p);
        QCOMPARE(pageOf(onDefault)->profile(), QWebEngineProfile::defaultProfile());
    }

    // A page's own policy judges that page alone, in each of its parts, and
    // the global one judges it again once the host deletes its own.
    void pagePolicyJudgesItsPageOnly_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("signal");
        QTest::newRow("origins") << "origins"
                                 << "bridgeWithheld";
        QTest::newRow("file roots") << "roots"
                                    << "bridgeCallRefused";
        QTest::newRow("navigation") << "navigation"
                                    << "navigationRefused";
    }
    void pagePolicyJudgesItsPageOnly()
    {
        QFETCH(QString, part);
        QFETCH(QString, signal);
        auto own = std::make_unique<WebAccessPolicy>();
        own->setTrustedOrigins({ part == "origins" ? "http://vms.invalid" : "qrc:" });
        if (part == "roots")
            own->setFileRoots({ m_dir.path() }, {});
        if (part == "navigation")
            own->setNavigationPolicy(WebAccessPolicy::TrustedOnly);
        BridgePage mine, other;
        mine.widgets.setAccessPolicy(own.get());
        QCOMPARE(&mine.widgets.accessPolicy(), own.get());
        QStringList seen;
        for (BridgePage* p : { &mine, &other }) {
            const QString who = p == &mine ? "mine " : "other ";
            connect(&p->widgets, &VmsWebWidgets::bridgeWithheld, this,
                    [&seen, who] { seen << who + "bridgeWithheld"; });
            connect(&p->widgets, &VmsWebWidgets::bridgeCallRefused, this,
                    [&seen, who] { seen << who + "bridgeCallRefused"; });
            connect(&p->widgets, &VmsWebWidgets::navigationRefused, this,
                    [&seen, who] { seen << who + "navigationRefused"; });
            QVERIFY(loadPage(p->widgets, bridgePageUrl()));
            if (part == "roots")
                callBridge(p->page(), "PlaySoundFile", { "/nowhere/outside.wav" });
            if (part == "navigation")
                evalJs(p->page(), QString("location.href = '%1'").arg(m_a.url("/").toString()));
        }
        QTRY_COMPARE(seen, QStringList { "mine " + signal });
        own.reset();
        QCOMPARE(&mine.widgets.accessPolicy(), &WebAccessPolicy::global());
    }

    // Every request is answered at once: an untrusted document is denied, a
    // trusted one as its policy says (denied unless set, with one line), or
    // by the host, later, when the policy leaves it the answer.
    void permissionsAnswered_data()
    {
        QTest::addColumn<WebAccessPolicy::PermissionAnswer>("answer");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("host"); // -1: not listening; 0 denies, 1 grants later
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("line");
        using P = WebAccessPolicy;
        const auto add = [](const char* row, P::PermissionAnswer answer, bool trusted, int host,
                            const char* result, const char* line) {
            QTest::newRow(row) << answer << trusted << host << QString(result) << QString(line);
        };
        add("untrusted", P::Grant, false, -1, "denied", "not a trusted origin");
        add("not set", P::Deny, true, -1, "denied", "not granted by the host's policy");
        add("granted", P::Grant, true, -1, "granted", "");
        add("host grants", P::AskHost, true, 1, "granted", "");
        add("host denies", P::AskHost, true, 0, "denied", "");
        add("nobody listens", P::AskHost, true, -1, "denied", "does not listen");
    }
    void permissionsAnswered()
    {
        const auto feature = WebAccessPolicy::Notifications; // what the page asks for
        QFETCH(WebAccessPolicy::PermissionAnswer, answer);
        QFETCH(bool, trusted);
        QFETCH(int, host);
        QFETCH(QString, result);
        QFETCH(QString, line);
        WebAccessPolicy policy;
        policy.setTrustedOrigins({ trusted ? originOf(m_a) : "http://vms.invalid" });
        policy.setPermission(feature, answer, { originOf(m_a) });
        BridgePage p;
        p.widgets.setAccessPolicy(&policy);
        QList<QVariantList> asked;
        if (host >= 0)
            connect(&p.widgets, &VmsWebWidgets::permissionRequested, this,
                    [&](const QString& origin, WebAccessPolicy::Feature f) {
                        asked << QVariantList { origin, f };
                        QTimer::singleShot(100, &p.widgets, [&p, origin, f, host] {
                            p.widgets.answerPermission(origin, f, host == 1);
                        });
                    });
        QVERIFY(loadPage(p.widgets, m_a.url("/")));
        LogCapture log;
        evalJs(p.page(), kAskNotifications);
        QVERIFY(waitForJs(p.page(), "document.title != 'page'"));
        QCOMPARE(p.page()->title(), result);
        QCOMPARE(asked.size(), host >= 0 ? 1 : 0);
        if (host >= 0)
            QCOMPARE(asked.first(), QVariantList({ originOf(m_a), feature }));
        QCOMPARE(log.lines().filter("denied to").size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty())
            QCOMPARE(log.lines().filter(line).size(), 1);
        QVERIFY(!p.widgets.answerPermission(originOf(m_a), feature, true));
    }

    // A permitted page's notification reaches the host with its texts; the
    // operator's click and close reach the page, and the page's own close
    // reaches the host. A page that may not notify shows the host nothing.
    void notificationsReachTheHost()
    {
        WebAccessPolicy policy;
        policy.setPermission(WebAccessPolicy::Notifications, WebAccessPolicy::Grant,
                             { originOf(m_a) });
        BridgePage p, denied;
        p.widgets.setAccessPolicy(&policy);
        QSignalSpy shown(&p.widgets, &VmsWebWidgets::notificationShown);
        QSignalSpy closed(&p.widgets, &VmsWebWidgets::notificationClosed);
        QSignalSpy shownDenied(&denied.widgets, &VmsWebWidgets::notificationShown);
        for (BridgePage* page : { &p, &denied }) {
            QVERIFY(loadPage(page->widgets, (page == &p ? m_a : m_b).url("/")));
            evalJs(page->page(), kNotify);
        }
        QVERIFY(!shown.isEmpty() || shown.wait());
        const QString id = shown.first().first().toString();
        QCOMPARE(shown.first().mid(1), QVariantList({ "Title", "Body", "t1", originOf(m_a) }));
        QVERIFY(waitForJs(p.page(), "events == 'show'"));
        QVERIFY(p.widgets.clickNotification(id));
        QVERIFY(p.widgets.closeNotification(id));
        QVERIFY(waitForJs(p.page(), "events == 'show click close'"));
        QVERIFY(!p.widgets.clickNotification(id));
        evalJs(p.page(),
               "var two = new Notification('Two'); two.onshow = function () { two.close(); }");
        QVERIFY(!closed.isEmpty() || closed.wait());
        QCOMPARE(closed.first().first().toString(), shown.last().first().toString());
        // The denied page's error event has no order with the other page's.
        QVERIFY(waitForJs(denied.page(), "events !== ''"));
        QCOMPARE(evalJs(denied.page(), "events").toString(), "error");
        QCOMPARE(shownDenied.size(), 0);
    }

    // window.open gives the page a window only where the host opened one;
    // the system browser gets what it is handed, and the page null.
    void newWindows_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("opened");
        QTest::newRow("no host answer") << int(VmsWebWidgets::RefuseNewWindow) << false;
        QTest::newRow("system browser") << int(VmsWebWidgets::OpenInSystemBrowser) << false;
        QTest::newRow("host window") << int(VmsWebWidgets::OpenInHostWindow) << true;
    }
    void newWindows()
    {
        QFETCH(int, answer);
        QFETCH(bool, opened);
        const QUrl help = httpPage("/help.html", "help");
        BridgePage p;
        QWidget hostWindow;
        std::unique_ptr<VmsWebWidgets> target;
        QList<QUrl> asked;
        connect(&p.widgets, &VmsWebWidgets::newWindowRequested, this,
                [&](const QUrl& url, VmsWebWidgets::NewWindowAnswer* a, VmsWebWidgets** t) {
                    asked << url;
                    *a = VmsWebWidgets::NewWindowAnswer(answer);
                    if (answer == VmsWebWidgets::OpenInHostWindow)
                        *t = (target = std::make_unique<VmsWebWidgets>(&hostWindow)).get();
                });
        m_desktop.clear();
        QDesktopServices::setUrlHandler("http", this, "openUrl");
        QVERIFY(loadPage(p.widgets, filePage("open.html", "opener")));
        QCOMPARE(
            evalJs(p.page(), QString("window.open('%1') !== null").arg(help.toString())).toBool(),
            opened);
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(asked, QList<QUrl> { help });
        QCOMPARE(m_desktop,
                 answer == VmsWebWidgets::OpenInSystemBrowser ? QList<QUrl> { help }
                                                              : QList<QUrl>());
        if (opened)
            QTRY_COMPARE_WITH_TIMEOUT(target->view()->page()->url(), help, 10000);
    }

    // A right-click shows the operator's menu with what applies there, unless
    // the page's own handler or the host's menu takes it.
    void contextMenu_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("mode"); // 0 the module's menu, 1 DevTools on, 2 the host's menu
        QTest::addColumn<QList<int>>("actions"); // empty: no menu
        using P = QWebEnginePage;
        QTest::newRow("text field") << QByteArray("<input id=t value=hello>") << 0
                                    << QList<int> { P::Cut, P::Copy, P::Paste, P::SelectAll };
        QTest::newRow("text, DevTools on") << QByteArray("<p id=t>hello</p>") << 1
                                           << QList<int> { P::SelectAll, P::InspectElement };
        QTest::newRow("the page's own handler")
            << QByteArray("<p id=t oncontextmenu='event.preventDefault();window.seen=1'>hello</p>")
            << 0 << QList<int>();
        QTest::newRow("the host's menu") << QByteArray("<p id=t>hello</p>") << 2 << QList<int>();
    }
    void contextMenu()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, mode);
        QFETCH(QList<int>, actions);
        if (mode == 1)
            qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "0");
        QWidget window;
        window.resize(400, 300);
        VmsWebWidgets w(&window);
        w.setFixedSize(400, 300);
        window.show();
        QList<QPoint> hostMenus;
        connect(&w, &VmsWebWidgets::contextMenuRequested, this,
                [&](const QPoint& at, bool* handled) {
                    hostMenus << at;
                    *handled = mode == 2;
                });
        QVERIFY(loadPage(w, filePage("menu.html", body)));
        QVERIFY(evalJs(pageOf(w),
                       "var t=document.getElementById('t');t.select?t.select():0;t.focus();1")
                    .isValid());
        QVERIFY(clickOn(w, "#t", Qt::RightButton));
        if (body.contains("oncontextmenu")) {
            QVERIFY(waitForJs(pageOf(w), "window.seen === 1"));
            QVERIFY(evalJs(pageOf(w), "1").isValid()); // the engine's answer has come meanwhile
            QVERIFY(hostMenus.isEmpty() && !shownMenu());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(hostMenus.size(), 1, 10000);
        if (actions.isEmpty()) {
            QVERIFY(!shownMenu());
            return;
        }
        QTRY_VERIFY(shownMenu());
        QStringList texts, expected;
        for (QAction* a : shownMenu()->actions())
            if (!a->isSeparator())
                texts << a->text();
        for (int a : actions)
            expected << pageOf(w)->action(QWebEnginePage::WebAction(a))->text();
        QCOMPARE(texts, expected);
        shownMenu()->close();
    }

    // A trusted page writes the clipboard on the operator's click; it reads
    // it only where its policy grants ClipboardRead. Others get neither.
    void clipboard_data()
    {
        QTest::addColumn<QString>("call"); // writeText('from the page') or readText()
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<WebAccessPolicy::PermissionAnswer>("read"); // the host grants, if asked
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("clipboard"); // afterwards
        const QString w = "writeText('from the page')", r = "readText()", op = "the operator's";
        using P = WebAccessPolicy;
        QTest::newRow("write, trusted") << w << true << P::Deny << "ok"
                                        << "from the page";
        QTest::newRow("write, untrusted") << w << false << P::Grant << "NotAllowedError" << op;
        QTest::newRow("read, granted") << r << true << P::Grant << "ok the operator's" << op;
        QTest::newRow("read, not granted") << r << true << P::Deny << "NotAllowedError" << op;
        QTest::newRow("read, untrusted") << r << false << P::Grant << "NotAllowedError" << op;
        // Qt 6.4 asks no one before a read.
        QTest::newRow("read, left to the host")
            << r << true << P::AskHost
            << (QT_VERSION >= QT_VERSION_CHECK(6, 8, 0) ? "ok the operator's" : "NotAllowedError")
            << op;
    }
    void clipboard()
    {
        QFETCH(QString, call);
        QFETCH(bool, trusted);
        QFETCH(WebAccessPolicy::PermissionAnswer, read);
        QFETCH(QString, result);
        QFETCH(QString, clipboard);
        WebAccessPolicy policy;
        policy.setTrustedOrigins({ trusted ? originOf(m_a) : "http://vms.invalid" });
        policy.setPermission(WebAccessPolicy::ClipboardRead, read, { originOf(m_a) });
        QWidget window;
        window.resize(400, 300);
        VmsWebWidgets w(&window);
        w.setFixedSize(400, 300);
        w.setAccessPolicy(&policy);
        connect(&w, &VmsWebWidgets::permissionRequested, &w,
                [&w](const QString& origin, WebAccessPolicy::Feature f) {
                    w.answerPermission(origin, f, true);
                });
        window.show();
        QGuiApplication::clipboard()->setText("the operator's");
        const QUrl page = httpPage(
            "/clipboard",
            QString("<button id=b style='width:200px;height:100px' onmousedown='window.pressed=1'"
                    " onclick=\"navigator.clipboard"
                    ".%1.then(function(t){document.title=(t===undefined?'ok':'ok '+t);},"
                    "function(e){document.title=e.name;})\">go</button>")
                .arg(call)
                .toUtf8());
        QVERIFY(loadPage(w, page));
        // A click on a view just shown may come before it takes input.
        for (int i = 0; i < 5 && !evalJs(pageOf(w), "!!window.pressed").toBool(); ++i) {
            QVERIFY(clickOn(w, "#b", Qt::LeftButton));
            waitForJs(pageOf(w), "window.pressed", 2000);
        }
        QVERIFY(waitForJs(pageOf(w), "document.title !== ''"));
        QCOMPARE(pageOf(w)->title(), result);
        // The engine hands the text to the system after the promise settles.
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), clipboard);
    }

    // A frame of another origin in a trusted page that may read: the copy
    // and paste commands the page's settings would let it run unasked fail.
    void clipboardClosedToFrames()
    {
        WebAccessPolicy policy;
        policy.setTrustedOrigins({ originOf(m_a) });
        policy.setPermission(WebAccessPolicy::ClipboardRead, WebAccessPolicy::Grant,
                             { originOf(m_a) });
        BridgePage p;
        p.widgets.setAccessPolicy(&policy);
        QGuiApplication::clipboard()->setText("the operator's");
        m_b.addPage("/clipboard-frame",
                    "<!doctype html><script>addEventListener('message', function () {"
                    " var read = '', wrote = false;"
                    " addEventListener('paste', function (e) {"
                    "  read = e.clipboardData.getData('text'); });"
                    " addEventListener('copy', function (e) { wrote = true;"
                    "  e.clipboardData.setData('text/plain', 'the frame'); e.preventDefault(); });"
                    " var pasted = document.execCommand('paste');"
                    " var copied = document.execCommand('copy');"
                    " parent.postMessage([pasted, read, copied, wrote].join('|'), '*'); });"
                    "</script>");
        QVERIFY(loadPage(p.widgets,
                         httpPage("/with-frame",
                                  "<script>addEventListener('message', function (e) {"
                                  " document.title = e.data; });</script><iframe src='"
                                      + m_b.url("/clipboard-frame").toEncoded()
                                      + "' onload='frames[0].postMessage(1, \"*\")'></iframe>")));
        QVERIFY(waitForJs(p.page(), "document.title !== ''"));
        QCOMPARE(p.page()->title(), "false||false|false");
        QCOMPARE(QGuiApplication::clipboard()->text(), "the operator's");
    }

    // window.print() goes to a PDF file offscreen unless the host prints;
    // savePageAsPdf writes one only inside the write roots. The text read
    // back tells the file is the page.
    void printAndPdf_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("outcome"); // of the bridge call; empty: no file
        QTest::newRow("window.print, offscreen") << "print"
                                                 << "written";
        QTest::newRow("window.print, the host prints") << "host"
                                                       << "";
        QTest::newRow("page library, in a write root") << "library"
                                                       << "written";
        QTest::newRow("page library, outside the write roots") << "outside"
                                                               << "refused";
    }
    void printAndPdf()
    {
        QFETCH(QString, how);
        QFETCH(QString, outcome);
        const QString dl = m_dir.filePath("pdf-" + how);
        QVERIFY(QDir().mkpath(dl));
        CWebPage::m_strDownloadPath = dl;
        WebAccessPolicy policy;
        policy.setFileRoots({}, { dl });
        VmsWebWidgets w;
        w.setAccessPolicy(&policy);
        QSignalSpy printed(&w, &VmsWebWidgets::printRequested);
        connect(&w, &VmsWebWidgets::printRequested, this,
                [&](bool* handled) { *handled = how == "host"; });
        QVERIFY(loadPage(w,
                         filePage("print.html",
                                  "<script src='qrc:///qtwebchannel/qwebchannel.js'>"
                                  "</script><script src='qrc:///taviweb/taviweb.js'>"
                                  "</script><h1>"
                                      + kText + "</h1>")));
        const QString target = how == "outside" ? m_dir.filePath("elsewhere.pdf") : dl + "/r.pdf";
        if (how == "print" || how == "host") {
            QVERIFY(evalJs(pageOf(w), "window.print(); 1").isValid());
            // Qt 6.8 may tell of it after the script's answer.
            QVERIFY(!printed.isEmpty() || printed.wait());
            QCOMPARE(printed.count(), 1);
        } else {
            QVERIFY(evalJs(pageOf(w),
                           QString("TaviWeb.connect().then(c => c.savePageAsPdf('%1'))"
                                   ".then(r => window.pdf = r); 1")
                               .arg(target))
                        .isValid());
            QVERIFY(waitForJs(pageOf(w), "window.pdf !== undefined"));
            QCOMPARE(evalJs(pageOf(w), "window.pdf.outcome").toString(), outcome);
        }
        if (how == "host") {
            QVERIFY(filesUnder(dl).isEmpty());
            return;
        }
        // Written under a name of its own first, and renamed once on the disk.
        const auto printedPage = [&] {
            const QStringList files = filesUnder(dl);
            return files.size() == 1 && pdfText(dl + '/' + files[0]).contains(kText);
        };
        if (outcome == "written")
            QTRY_VERIFY_WITH_TIMEOUT(printedPage(), 30000);
        QCOMPARE(filesUnder(dl).size(), outcome == "written" ? 1 : 0);
        QVERIFY(!QFile::exists(m_dir.filePath("elsewhere.pdf")));
    }

    // Saving the page itself is judged by its own document.
    void savePage_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::newRow("trusted document") << true;
        QTest::newRow("untrusted document") << false;
    }
    void savePage()
    {
        QFETCH(bool, trusted);
        WebAccessPolicy policy;
        policy.setTrustedOrigins({ "file:" });
        CWebPage::m_strDownloadPath = m_dir.filePath(trusted ? "saved-t" : "saved-u");
        VmsWebWidgets w;
        w.setAccessPolicy(&policy);
        QSignalSpy refused(&w, &VmsWebWidgets::bridgeCallRefused);
        QVERIFY(
            loadPage(w, trusted ? filePage("save.html", kText) : httpPage("/save.html", kText)));
        pageOf(w)->triggerAction(QWebEnginePage::SavePage);
        if (trusted) {
            QTRY_COMPARE_WITH_TIMEOUT(filesUnder(CWebPage::m_strDownloadPath).size(), 1, 30000);
            QCOMPARE(refused.count(), 0);
            return;
        }
        QVERIFY(refused.wait(10000));
        QCOMPARE(refused[0][1].toString(), originOf(m_a));
        QCOMPARE(refused[0][2].value<VmsWebWidgets::RefusalReason>(),
                 VmsWebWidgets::UntrustedOrigin);
    }

    // The engine's reason for a request it blocked, in the module's log.
    void blockedRequestLine()
    {
        LogCapture log;
        VmsWebWidgets w;
        QVERIFY(loadPage(w, httpPage("/b.html", "<img src='file:///etc/hostname'>")));
        QTRY_VERIFY_WITH_TIMEOUT(
            log.contains(QString("tavi.webmodule: Page %1: request to file:///etc/"
                                 "hostname blocked: access to local files denied")
                             .arg(w.pageId())),
            10000);
    }

    // The skin's colours are the default a page's own styles override, even
    // one on the root as plain as the skin's.
    void skinColours_data()
    {
        QTest::addColumn<QByteArray>("style");
        QTest::addColumn<bool>("skin");
        QTest::newRow("a page without colours") << QByteArray() << true;
        QTest::newRow("a page with its own")
            << QByteArray("<style>:root{color:rgb(1, 2, 3)}</style>") << false;
    }
    void skinColours()
    {
        QFETCH(QByteArray, style);
        QFETCH(bool, skin);
        VmsWebWidgets w;
        QVERIFY(loadPage(w, filePage("skin.html", style + "<p id=t>text</p>")));
        const QColor text = QColor::fromString(taviSkinMgr()->oneLevelTextColor());
        const QString rgb
            = QString("rgb(%1, %2, %3)").arg(text.red()).arg(text.green()).arg(text.blue());
        QCOMPARE(
            evalJs(pageOf(w), "getComputedStyle(document.getElementById('t')).color").toString(),
            skin ? rgb : "rgb(1, 2, 3)");
        QCOMPARE(evalJs(pageOf(w),
                        "getComputedStyle(document.documentElement)"
                        ".getPropertyValue('--tavi-text').trim()")
                     .toString(),
                 QString(rgb).replace("rgb(", "rgba(").replace(")", ", 1)"));
        const QColor bg = QColor::fromString(taviSkinMgr()->dlgBackgroundColor());
        QCOMPARE(
            evalJs(pageOf(w), "getComputedStyle(document.documentElement).colorScheme").toString(),
            bg.lightness() < 128 ? "dark" : "light");
    }

    // A trusted document fills the screen and comes back to its place in
    // the host's layout, whichever way it leaves; an untrusted one is refused.
    void fullScreen_data()
    {
        QTest::addColumn<bool>("trusted");
        // Esc, or the host; the page's own exitFullscreen() takes the tail of
        // Esc's way (the engine's request to leave).
        QTest::addColumn<QString>("leave");
        QTest::newRow("Esc") << true << "esc";
        QTest::newRow("the host") << true << "host";
        QTest::newRow("untrusted document") << false << "";
    }
    void fullScreen()
    {
        QFETCH(bool, trusted);
        QFETCH(QString, leave);
        WebAccessPolicy policy;
        policy.setTrustedOrigins({ trusted ? "file:" : originOf(m_a) });
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        VmsWebWidgets w(&window);
        w.setAccessPolicy(&policy);
        layout->addWidget(w.view());
        w.setFixedSize(400, 300);
        window.resize(500, 400);
        window.show();
        QSignalSpy changed(&w, &VmsWebWidgets::fullScreenChanged);
        const QByteArray body
            = "<body style='height:300px' onclick='document.body.requestFullscreen()"
              ".then(()=>window.full=1,()=>window.full=0)'>";
        QVERIFY(loadPage(w, filePage("full.html", body)));
        LogCapture log;
        QVERIFY(clickOn(w, "body", Qt::LeftButton));
        if (!trusted) {
            QTRY_VERIFY_WITH_TIMEOUT(log.lines().join('\n').contains("Refused full screen: file"),
                                     10000);
            QVERIFY(changed.isEmpty() && w.view()->parentWidget() == &window);
            return;
        }
        QVERIFY(waitForJs(pageOf(w), "window.full === 1"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(w.isFullScreen() && w.view()->isWindow() && w.view()->isFullScreen());
        if (leave == "esc")
            QTest::keyClick(w.view()->window(), Qt::Key_Escape);
        else
            w.exitFullScreen();
        QVERIFY(changed.count() == 2 || changed.wait(10000));
        QCOMPARE(changed[1][0].toBool(), false);
        QVERIFY(!w.isFullScreen() && w.view()->parentWidget() == &window
                && layout->indexOf(w.view()) == 0);
        QVERIFY(waitForJs(pageOf(w), "document.fullscreenElement === null"));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TAVI_PROFILE_RUN"))
        return storageRun(argc, argv);
    QApplication app(argc, argv);
    TestBrowserFeatures test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_browserfeatures.moc"
