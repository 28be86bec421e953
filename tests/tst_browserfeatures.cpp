// What pages get of the browser beyond the bridge: profiles whose storage
// lasts and keeps servers apart, a policy per page, permissions. Real pages from two loopback
// origins.

#include "TestSupport.h"

#include <DownloadServer.h>
#include <QtCore/QProcess>
#include <QtNetwork/QTcpServer>
#include <QtWebEngineCore/QWebEngineProfile>
#include <TaviWebPage.h>
#include <WebAccessPolicy.h>

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

} // namespace

class TestBrowserFeatures : public QObject
{
    Q_OBJECT
    DownloadServer m_a, m_b; // two servers on one address: 127.0.0.1, two ports
    ScratchDir m_dir;

private slots:
    void initTestCase()
    {
        for (DownloadServer* s : { &m_a, &m_b }) {
            s->addPage("/", kPlainPage);
            QVERIFY(s->start());
        }
    }

    // A page on a persistent profile finds in a second run of its host what
    // the first one stored; one on Qt's default profile, as before, does not.
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
        QTest::addColumn<WebAccessPolicy::Feature>("feature");
        QTest::addColumn<WebAccessPolicy::PermissionAnswer>("answer");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("host"); // -1: not listening; 0 denies, 1 grants later
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("line");
        const auto n = WebAccessPolicy::Notifications;
        using P = WebAccessPolicy;
        QTest::newRow("untrusted") << n << P::Grant << false << -1 << "denied"
                                   << "not a trusted origin";
        QTest::newRow("not set") << n << P::Deny << true << -1 << "denied"
                                 << "not granted by the host's policy";
        QTest::newRow("granted") << n << P::Grant << true << -1 << "granted"
                                 << "";
        QTest::newRow("host grants") << n << P::AskHost << true << 1 << "granted"
                                     << "";
        QTest::newRow("host denies") << n << P::AskHost << true << 0 << "denied"
                                     << "";
        QTest::newRow("nobody listens") << n << P::AskHost << true << -1 << "denied"
                                        << "does not listen";
    }
    void permissionsAnswered()
    {
        QFETCH(WebAccessPolicy::Feature, feature);
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
        QCOMPARE(evalJs(denied.page(), "events").toString(), "error");
        QCOMPARE(shownDenied.size(), 0);
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
