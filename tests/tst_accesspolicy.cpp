// WebAccessPolicy: which documents get the bridge and the host's pushes,
// navigation and new windows under TrustedOnly, file roots, pinned
// certificates. Real pages from two loopback origins, a file: and a qrc: page.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <DownloadServer.h>
#include <QtCore/QCryptographicHash>
#include <QtCore/QProcess>
#include <QtNetwork/QSslCertificate>
#include <QtNetwork/QSslConfiguration>
#include <QtNetwork/QSslKey>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWidgets/QDialog>
#include <WebAccessPolicy.h>
#include <WebPage.h>

using namespace TestSupport;

namespace {

WebAccessPolicy& policy()
{
    return WebAccessPolicy::global();
}

// Calls a slot of the bridge from C++ as the channel would, arguments
// converted to its parameter types; the result, or null for void.
QVariant invoke(QObject* object, const char* signature, QVariantList args)
{
    const QMetaMethod m = object->metaObject()->method(
        object->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(signature)));
    QVariant result
        = m.returnMetaType().id() == QMetaType::Void ? QVariant() : QVariant(m.returnMetaType());
    QGenericArgument a[10];
    for (int i = 0; i < args.size(); ++i) {
        args[i].convert(m.parameterMetaType(i));
        a[i] = QGenericArgument(args[i].typeName(), args[i].constData());
    }
    m.invoke(object, Qt::DirectConnection,
             QGenericReturnArgument(result.typeName(), result.isValid() ? result.data() : nullptr),
             a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    return result;
}

// The host notice's "data" of cmd, or an empty object for another text.
QJsonObject noticeData(const QString& notice, const QString& cmd)
{
    const QJsonObject o = QJsonDocument::fromJson(notice.toUtf8()).object();
    return o.value("cmd") == cmd ? o.value("data").toObject() : QJsonObject();
}

} // namespace

class TestAccessPolicy : public QObject
{
    Q_OBJECT
    DownloadServer m_a, m_b; // two origins: 127.0.0.1 on two ports
    DownloadServer m_https; // a self-signed certificate
    QByteArray m_fingerprint; // its SHA-256
    ScratchDir m_dir;
    QString m_filePage;

    QString originA() const { return WebAccessPolicy::originOf(m_a.url("/")); }
    // "a", "b", "file", "qrc" and "a/<path>"-style names to URLs.
    QUrl urlOf(const QString& name) const
    {
        if (name == "file")
            return QUrl::fromLocalFile(m_filePage);
        if (name == "qrc")
            return bridgePageUrl();
        const DownloadServer& s = name.startsWith('a') ? m_a : m_b;
        return s.url(name.size() > 1 ? name.mid(1) : QStringLiteral("/bridge.html"));
    }
    // Opens url and waits until its channel client has initialised (with
    // or without the bridge).
    static bool open(BridgePage& p, const QUrl& url)
    {
        return loadPage(p.widgets, url) && waitForJs(p.page(), "window.bridgeReady");
    }
    static bool hasBridge(BridgePage& p) { return evalJs(p.page(), "!!window.bridge").toBool(); }
    // Runs script in the page and waits for the next load to end.
    static bool navigate(BridgePage& p, const QString& script)
    {
        QSignalSpy loaded(p.page(), &QWebEnginePage::loadFinished);
        p.page()->runJavaScript(script);
        return loaded.wait(20000) && waitForJs(p.page(), "window.bridgeReady");
    }
    static QString clickLink(const QString& url)
    {
        return QStringLiteral("var a = document.createElement('a'); a.href = '%1';"
                              " document.body.appendChild(a); a.click();")
            .arg(url);
    }

private slots:
    void initTestCase()
    {
        QFile page(":/tests/bridge.html");
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QByteArray html = page.readAll();
        QVERIFY(m_a.start() && m_b.start());
        for (DownloadServer* s : { &m_a, &m_b }) {
            s->addPage("/bridge.html", html);
            s->addFile("/report.pdf", "%PDF-1.4\n", "report.pdf");
        }
        m_a.addRedirect("/to-b", m_b.url("/bridge.html"));
        m_a.addPage("/frame.html",
                    "<iframe src='" + m_b.url("/frame-probe.html").toEncoded() + "'></iframe>"
                        + html);
        m_b.addPage("/frame-probe.html",
                    "<script>parent.postMessage(String(!!(window.qt && qt.webChannelTransport)),"
                    " '*');</script>");
        m_filePage = m_dir.filePath("bridge.html");
        QVERIFY(writeFile(m_filePage, html));

        // The file roots' tree: links out of a root, into one, and a
        // dangling one whose target would be created outside.
        for (const char* f : { "in/a.txt", "ro/a.txt", "out/a.txt" })
            QVERIFY(writeFile(m_dir.filePath(f), f));
        QVERIFY(QFile::link(m_dir.filePath("out"), m_dir.filePath("in/up")));
        QVERIFY(QFile::link(m_dir.filePath("out/new.txt"), m_dir.filePath("in/dangling")));
        QVERIFY(QFile::link("../in", m_dir.filePath("ro/back")));

        QProcess openssl;
        openssl.start("openssl",
                      { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1" });
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(readFile("cert.pem")));
        tls.setPrivateKey(QSslKey(readFile("key.pem"), QSsl::Ec));
        QVERIFY(!tls.localCertificate().isNull() && !tls.privateKey().isNull());
        m_fingerprint = tls.localCertificate().digest(QCryptographicHash::Sha256);
        m_https.setTls(tls);
        m_https.addPage("/bridge.html", html);
        QVERIFY(m_https.start());
    }

    void cleanup()
    {
        policy().setTrustedOrigins({});
        policy().setFileRoots({}, {});
        policy().setNavigationPolicy(WebAccessPolicy::AllowAll);
        policy().setPinnedCertificates({});
        CWebPage::m_strDownloadPath.clear();
    }

    // A document finds "CWebComm", receives pushes and may download only when
    // its origin is trusted; without trusted origins every one is.
    void documentsOfTrustedOriginsOnly_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("trusted"); // "A" stands for the first server's origin
        QTest::addColumn<bool>("expected");
        QTest::newRow("default: any origin") << "b" << QStringList() << true;
        QTest::newRow("http, trusted") << "a" << QStringList { "A", "qrc:" } << true;
        QTest::newRow("http, another port") << "b" << QStringList { "A", "qrc:" } << false;
        QTest::newRow("file:, trusted") << "file" << QStringList { "file:" } << true;
        QTest::newRow("file:, untrusted") << "file" << QStringList { "A", "qrc:" } << false;
        QTest::newRow("qrc:, trusted") << "qrc" << QStringList { "qrc:" } << true;
        QTest::newRow("qrc:, untrusted") << "qrc" << QStringList { "A" } << false;
    }
    void documentsOfTrustedOriginsOnly()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, trusted);
        QFETCH(bool, expected);
        policy().setTrustedOrigins(trusted.replaceInStrings(QRegularExpression("^A$"), originA()));
        CWebPage::m_strDownloadPath = m_dir.filePath("dl");
        BridgePage p;
        QSignalSpy connected(&p.widgets, &VmsWebWidgets::bridgeConnected);
        LogCapture log;
        QVERIFY(open(p, urlOf(page)));
        QCOMPARE(hasBridge(p), expected);
        QCOMPARE(connected.count(), expected ? 1 : 0);
        // Pushes run in the page in order with the next script.
        emit WebViewDataCenter::GetInstance()->emitInfoNotify("pushed");
        QCOMPARE(evalJs(p.page(), "window.calls.length").toInt(), expected ? 1 : 0);

        QSignalSpy requested(QWebEngineProfile::defaultProfile(),
                             &QWebEngineProfile::downloadRequested);
        p.page()->runJavaScript("var a = document.createElement('a'); a.download = 'x.txt';"
                                " a.href = URL.createObjectURL(new Blob(['x'])); a.click();");
        QVERIFY(requested.wait(10000));
        const QPointer download = requested[0][0].value<QWebEngineDownloadRequest*>();
        QTRY_VERIFY(!download || download->state() != QWebEngineDownloadRequest::DownloadRequested);
        QCOMPARE(download && download->state() != QWebEngineDownloadRequest::DownloadCancelled,
                 expected);
        QCOMPARE(log.contains("tavi.webmodule: Download refused: started by "
                              + WebAccessPolicy::originOf(urlOf(page)) + ", not a trusted origin"),
                 !expected);
    }

    // Scheme, host and port count, a missing port is the scheme's default,
    // "*." matches subdomains; no document is never trusted.
    void originMatching_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("trusted");
        const auto add = [](const char* entry, const char* url, bool trusted) {
            QTest::addRow("%s %s", entry, url) << entry << url << trusted;
        };
        add("https://vms.example.com:8443", "https://vms.example.com:8443/app/index.html", true);
        add("https://vms.example.com:8443", "https://vms.example.com/app", false);
        add("https://vms.example.com:8443", "http://vms.example.com:8443/", false);
        add("http://10.0.0.5", "http://10.0.0.5:80/x", true);
        add("http://10.0.0.5/", "http://10.0.0.5:8080/", false);
        add("https://VMS.example.com", "https://vms.example.com:443/", true);
        add("https://*.example.com", "https://cam.site.example.com/", true);
        add("https://*.example.com", "https://example.com/", false);
        add("https://*.example.com", "https://badexample.com/", false);
        add("qrc:", "qrc:/demo/index.html", true);
        add("file:", "file:///home/u/page.html", true);
        add("file:", "qrc:/x", false);
        add("http://10.0.0.5", "", false);
    }
    void originMatching()
    {
        QFETCH(QString, entry);
        QFETCH(QString, url);
        QFETCH(bool, trusted);
        policy().setTrustedOrigins({ entry });
        QCOMPARE(policy().isTrusted(QUrl(url)), trusted);
    }

    // While an untrusted document is shown (as when a navigation races a
    // call), every method returns its failure value, logs one line naming
    // itself and the origin, and touches nothing.
    void refusedCallsTouchNothing_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QVariant>("failure");
        const QString f = m_dir.filePath("calls/keep.txt");
        const auto add = [](const char* signature, const QVariantList& args, QVariant failure) {
            QTest::newRow(signature) << signature << args << failure;
        };
        add("BrowseFilePath(QString)", { f }, QString());
        add("BrowseFile(QString)", { f }, QString());
        add("PlaySoundFile(QString)", { f }, QVariant());
        add("GetDevStatus()", {}, QString());
        add("GetDevSessionId(QString)", { "cam" }, QString());
        add("ShowPicture(QString)", { f }, QVariant());
        add("PlayVideoFile(QString)", { f }, QVariant());
        add("CopyFileFunc(QString)",
            { QString(R"([{"sourceFile":"%1","targetFile":"%1.copy"}])").arg(f) }, QVariant());
        add("DelFileFunc(QString)", { QString(R"(["%1"])").arg(f) }, QVariant());
        add("ShowDevAlarmTips(QString)", { "alarm" }, false);
        add("GetUserToken()", {}, QVariant());
        add("SetDownloadPath(QString)", { m_dir.path() }, QVariant());
        add("AfterSnapshot(QString,QString,int,QString)",
            { "data:image/png;base64,AAAA", "1", 2, f + ".png" }, -1);
        add("ReleaseWebPage(QString)", { "x" }, QVariant());
        add("NotifyToHost(QString,QString)", { "m", "s" }, -1);
        add("NotifyToHostSync(QString,int)", { "m", 100 }, QString());
        add("RequestToVmsServer(int,QString,QString,QString)", { 1, "m", "s", "d" }, -1);
        add("RequestToVmsServerSync(int,QString,QString,int)", { 1, "m", "d", 100 }, QString());
    }
    void refusedCallsTouchNothing()
    {
        QFETCH(QString, signature);
        QFETCH(QVariantList, args);
        QFETCH(QVariant, failure);
        policy().setTrustedOrigins({ originA() });
        QVERIFY(writeFile(m_dir.filePath("calls/keep.txt"), "kept"));
        BridgePage p;
        QVERIFY(open(p, urlOf("b")));
        FakeClientSdk sdk;
        SdkInstaller install(&sdk);
        HostRecorder host;
        DialogDriver<QDialog> dialogs([](QDialog*) {}); // closes any that opens all the same
        LogCapture log;
        QCOMPARE(invoke(p.widgets.findChild<CWebComm*>(), qPrintable(signature), args), failure);
        QCOMPARE(log.lines(),
                 QStringList { QString("tavi.webmodule: Refused %1 from %2: not a trusted origin")
                                   .arg(signature.section('(', 0, 0),
                                        WebAccessPolicy::originOf(urlOf("b"))) });
        QCOMPARE(host.notices() + host.msgs(), QStringList());
        QVERIFY(sdk.request.requests().isEmpty());
        QCOMPARE(filesUnder(m_dir.filePath("calls")), QStringList { "keep.txt" });
        QCOMPARE(readFile(m_dir.filePath("calls/keep.txt")), "kept");
        QVERIFY(CWebPage::m_strDownloadPath.isEmpty());
        QCOMPARE(dialogs.count(), 0);
    }

    // From a trusted page: under AllowAll an untrusted document loads
    // without the bridge and coming back brings it back; under TrustedOnly
    // the navigation or new window is refused, the host told, and the page
    // stays with its bridge.
    void navigation_data()
    {
        QTest::addColumn<bool>("trustedOnly");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>(
            "steps"); // scripts; {A}, {B}: bridge pages, {R}: redirect to {B}
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("refused"); // the URL the host is told of, "+" for a new window
        const QString toB = clickLink("{B}"), toA = clickLink("{A}");
        QTest::newRow("link") << false << "a" << QStringList { toB } << "b"
                              << "";
        QTest::newRow("redirect") << false << "a" << QStringList { clickLink("{R}") } << "b"
                                  << "";
        QTest::newRow("link back") << false << "b" << QStringList { toA } << "a"
                                   << "";
        QTest::newRow("history back")
            << false << "a" << QStringList { toB, "history.back()" } << "a"
            << "";
        QTest::newRow("TrustedOnly: link") << true << "a" << QStringList { toB } << "a"
                                           << "{B}";
        QTest::newRow("TrustedOnly: redirect")
            << true << "a" << QStringList { clickLink("{R}") } << "a"
            << "{B}";
        QTest::newRow("TrustedOnly: window.open")
            << true << "a" << QStringList { "window.open('{B}')" } << "a"
            << "+{B}";
        QTest::newRow("TrustedOnly: trusted link") << true << "a" << QStringList { toA } << "a"
                                                   << "";
    }
    void navigation()
    {
        QFETCH(bool, trustedOnly);
        QFETCH(QString, start);
        QFETCH(QStringList, steps);
        QFETCH(QString, end);
        QFETCH(QString, refused);
        const auto fill = [this](QString s) {
            return s.replace("{A}", urlOf("a").toString())
                .replace("{B}", urlOf("b").toString())
                .replace("{R}", urlOf("a/to-b").toString());
        };
        policy().setTrustedOrigins({ originA() });
        BridgePage p;
        QVERIFY(open(p, urlOf(start)));
        policy().setNavigationPolicy(trustedOnly ? WebAccessPolicy::TrustedOnly
                                                 : WebAccessPolicy::AllowAll);
        HostRecorder host;
        for (const QString& step : std::as_const(steps)) {
            if (refused.isEmpty()) {
                QVERIFY(navigate(p, fill(step)));
            } else {
                p.page()->runJavaScript(fill(step));
                QTRY_COMPARE(host.notices().size(), 1);
            }
        }
        QCOMPARE(p.page()->url(), urlOf(end));
        QCOMPARE(hasBridge(p), end == "a");
        if (end == "a")
            QCOMPARE(callBridge(p.page(), "NotifyToHost", { "m", "s" }).toInt(), 0);
        const QJsonObject refusal { { "url", fill(refused).remove('+') },
                                    { "newWindow", refused.startsWith('+') } };
        QCOMPARE(host.notices().size(), refused.isEmpty() ? 0 : 1);
        if (!refused.isEmpty())
            QCOMPARE(noticeData(host.notices().value(0), "navigationRefused"), refusal);
    }

    // Roots: read ro/, write in/ (given with a trailing slash), under {D}.
    void fileRoots_data()
    {
        QTest::addColumn<QString>("path"); // relative paths from {D}, the current folder
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("write");
        QTest::newRow("in a write root") << "{D}/in/a.txt" << true << true;
        QTest::newRow("the root itself") << "{D}/in" << true << true;
        QTest::newRow("folders still to make") << "{D}/in/new/deeper/a.txt" << true << true;
        QTest::newRow("in a read root") << "{D}/ro/a.txt" << true << false;
        QTest::newRow("outside") << "{D}/out/a.txt" << false << false;
        QTest::newRow("the root's name as a prefix") << "{D}/in2/a.txt" << false << false;
        QTest::newRow(".. out of the root") << "{D}/in/../out/a.txt" << false << false;
        QTest::newRow(".. staying inside") << "{D}/in/new/../a.txt" << true << true;
        QTest::newRow("link out of the root") << "{D}/in/up/a.txt" << false << false;
        QTest::newRow(".. after a link out") << "{D}/in/up/../in/a.txt" << true << true;
        QTest::newRow(".. after a link, lexically inside")
            << "{D}/in/up/../a.txt" << false << false;
        QTest::newRow("dangling link out") << "{D}/in/dangling" << false << false;
        QTest::newRow("link into the write root") << "{D}/ro/back/a.txt" << true << true;
        QTest::newRow("relative") << "in/a.txt" << true << true;
        QTest::newRow("relative, .. out") << "ro/../out/a.txt" << false << false;
    }
    void fileRoots()
    {
        QFETCH(QString, path);
        QFETCH(bool, read);
        QFETCH(bool, write);
        QVERIFY(policy().mayRead("/etc/passwd") && policy().mayWrite("/etc/passwd"));
        policy().setFileRoots({ m_dir.filePath("ro") }, { m_dir.filePath("in") + '/' });
        QCOMPARE(policy().writeRoots(), QStringList { m_dir.filePath("in") });
        QCOMPARE(policy().mayRead(m_dir.fill(path)), read);
        QCOMPARE(policy().mayWrite(m_dir.fill(path)), write);
    }

    // Through the bridge, nothing outside the roots is read, written or
    // deleted; what lies inside still works.
    void bridgeStaysInsideRoots()
    {
        policy().setFileRoots({}, { m_dir.filePath("in") });
        BridgePage p;
        QVERIFY(p.load());
        LogCapture log;
        const QString in = m_dir.filePath("in"), out = m_dir.filePath("out");
        QVERIFY(writeFile(in + "/del.txt", "d"));
        const QJsonArray copies {
            QJsonObject { { "sourceFile", in + "/a.txt" }, { "targetFile", out + "/copy.txt" } },
            QJsonObject { { "sourceFile", out + "/a.txt" }, { "targetFile", in + "/stolen.txt" } },
            QJsonObject { { "sourceFile", "in/a.txt" }, { "targetFile", "in/copy.txt" } }
        };
        const auto text = [](const QJsonArray& a) { return QString(QJsonDocument(a).toJson()); };
        callBridge(p.page(), "CopyFileFunc", { text(copies) });
        callBridge(p.page(), "DelFileFunc", { text({ "out/a.txt", in + "/del.txt" }) });
        QCOMPARE(callBridge(p.page(), "AfterSnapshot",
                            { "data:image/png;base64,AAAA", "1", 2, out + "/snap.png" }),
                 -1);
        callBridge(p.page(), "SetDownloadPath", { out });
        QCOMPARE(filesUnder(out), QStringList { "a.txt" });
        QVERIFY(!QFile::exists(in + "/stolen.txt") && !QFile::exists(in + "/del.txt"));
        QCOMPARE(readFile(in + "/copy.txt"), "in/a.txt");
        QVERIFY(CWebPage::m_strDownloadPath.isEmpty());
        QVERIFY(log.contains("tavi.webmodule: Refused CopyFileFunc: reading outside the file "
                             "roots: "
                             + out + "/a.txt"));
    }

    // A certificate error is refused, logged and reported to the host unless
    // the leaf's SHA-256 is pinned. The pinned row comes last: the engine
    // keeps a certificate it accepted for the rest of the process.
    void pinnedCertificates_data()
    {
        QTest::addColumn<QString>("pin"); // "its own": the server's, lower case, no colons
        QTest::newRow("none") << "";
        QTest::newRow("another") << QString(64, 'a');
        QTest::newRow("its own") << "its own";
    }
    void pinnedCertificates()
    {
        QFETCH(QString, pin);
        const bool pinned = pin == "its own";
        policy().setPinnedCertificates(
            pin.isEmpty() ? QStringList() : QStringList { pinned ? m_fingerprint.toHex() : pin });
        const QString fingerprint = WebAccessPolicy::fingerprintText(m_fingerprint);
        QCOMPARE(policy().pinnedCertificates().contains(fingerprint), pinned);
        BridgePage p;
        HostRecorder host;
        LogCapture log;
        const QUrl url = m_https.url("/bridge.html");
        QCOMPARE(loadPage(p.widgets, url), pinned);
        if (pinned) {
            QVERIFY(waitForJs(p.page(), "window.bridgeReady") && hasBridge(p));
            QCOMPARE(host.notices(), QStringList());
            return;
        }
        QCOMPARE(host.notices().size(), 1);
        const QJsonObject data = noticeData(host.notices()[0], "certificateRefused");
        QCOMPARE(data.value("url").toString(), url.toString());
        QCOMPARE(data.value("fingerprint").toString(), fingerprint);
        QVERIFY(
            log.contains(QString("tavi.webmodule: Certificate error refused for %1: %2; "
                                 "SHA-256 %3")
                             .arg(url.toString(), data.value("error").toString(), fingerprint)));
    }

    // A cross-origin frame of a trusted page gets no transport.
    void crossOriginFrameGetsNoTransport()
    {
        policy().setTrustedOrigins({ originA() });
        BridgePage p;
        QVERIFY(loadPage(p.widgets, m_a.url("/frame.html")));
        QVERIFY(evalJs(p.page(),
                       "window.framed = null; addEventListener('message', "
                       "function (e) { window.framed = e.data; }); true")
                    .toBool());
        evalJs(p.page(), "document.querySelector('iframe').src += '?again'; true");
        QVERIFY(waitForJs(p.page(), "window.framed !== null"));
        QCOMPARE(evalJs(p.page(), "window.framed").toString(), "false");
        QVERIFY(waitForJs(p.page(), "window.bridgeReady") && hasBridge(p));
    }
};

QTEST_MAIN(TestAccessPolicy)
#include "tst_accesspolicy.moc"
