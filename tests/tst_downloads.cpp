#include "FileDialogDriver.h"
#include "TestSupport.h"

#include <DownloadServer.h>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QPointer>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebPage.h>

using namespace TestSupport;

namespace {

// Every download request of the profile. Made before the widgets, so that
// first, a handler of the host's, sees each request before the pages do.
struct Requests
{
    QList<QPointer<QWebEngineDownloadRequest>> list;
    QMetaObject::Connection connection;

    explicit Requests(std::function<void(QWebEngineDownloadRequest*)> first = {})
    {
        connection = QObject::connect(QWebEngineProfile::defaultProfile(),
            &QWebEngineProfile::downloadRequested, [this, first](QWebEngineDownloadRequest* r) {
                if (first)
                    first(r);
                list << r;
            });
    }
    ~Requests() { QObject::disconnect(connection); }

    // Waits for one request and its end; true when it completed.
    bool oneCompleted()
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && (list.isEmpty() || (list[0] && !list[0]->isFinished())))
            QTest::qWait(20);
        return list.size() == 1 && list[0]
            && list[0]->state() == QWebEngineDownloadRequest::DownloadCompleted;
    }
};

// The host's "showTip" notice, byte for byte (for paths without quotes or
// backslashes).
QString tipText(const QString& path, const QString& suffix)
{
    return QStringLiteral("{\n    \"cmd\": \"showTip\",\n    \"data\": {\n        \"suffix\": "
                          "\"%1\",\n        \"text\": \"%2\",\n        \"type\": \"file\"\n    "
                          "}\n}\n")
        .arg(suffix, path);
}

// SetDownloadPath as the page calls it; true when the call returned.
bool setDownloadPath(VmsWebWidgets& w, const QString& path)
{
    bool ok = false;
    callBridge(pageOf(w), "SetDownloadPath", { path }, &ok);
    return ok;
}

} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fixedFolder_data();
    void fixedFolder();
    void emptyPathBringsTheDialogBack();
    void cancelledDialogCancelsTheDownload();
    void requestEndedWhileTheDialogIsOpen();

private:
    // A new widget showing the bridge page (after any Requests made before).
    bool openPage(std::unique_ptr<VmsWebWidgets>& w);
    // Lets the page start a download of urlPath on the test's server, as a
    // link with a download attribute that the user clicks.
    void clickDownloadLink(QWebEnginePage* page, const QString& urlPath);

    QWidget m_parent;
    DownloadServer m_server;
    QScopedPointer<QTemporaryDir> m_dir;
    QByteArray m_body;
};

void TestDownloads::initTestCase()
{
    QVERIFY(m_server.start());
    m_body = QByteArray("%PDF-1.4 test body\n").repeated(500);
    m_server.addFile("/report.pdf", m_body, "report.pdf");
    m_server.addFile("/archive", m_body, "archive.tar.gz");
    m_server.addFile("/ab", m_body, "ab");
    m_server.addFile("/escape", m_body, "../escape.txt");
    m_server.addFile("/cn", m_body, "录像 报告.pdf");
}

void TestDownloads::init()
{
    // Shared by every page of the process: each test starts from the default.
    CWebPage::m_strDownloadPath.clear();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

bool TestDownloads::openPage(std::unique_ptr<VmsWebWidgets>& w)
{
    w = std::make_unique<VmsWebWidgets>(&m_parent);
    return loadBridgePage(*w);
}

void TestDownloads::clickDownloadLink(QWebEnginePage* page, const QString& urlPath)
{
    const QString script = QStringLiteral(
        "(function () { var a = document.createElement('a'); a.href = '%1'; a.download = '';"
        " document.body.appendChild(a); a.click(); return true; })()")
                               .arg(m_server.url(urlPath).toString(QUrl::FullyEncoded));
    QVERIFY(evalJs(page, script).toBool());
}

// "{D}" stands for the test's scratch folder, "{D\}" for it with backslashes;
// the file lands in {D}/dl under the name that the tip's text ends in.
void TestDownloads::fixedFolder_data()
{
    QTest::addColumn<QString>("urlPath");
    QTest::addColumn<QString>("folderGiven"); // through SetDownloadPath
    QTest::addColumn<QString>("presetName"); // set on the request before the page sees it
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<QString>("expectedSuffix");
    const auto add = [](const char* name, const char* urlPath, const char* folder,
                         const char* preset, const char* text, const char* suffix) {
        QTest::newRow(name) << urlPath << folder << preset << text << suffix;
    };

    add("report.pdf, backslashes in the folder", "/report.pdf", "{D\\}\\dl", "",
        "{D}/dl/report.pdf", "pdf");
    add("archive.tar.gz, trailing slash", "/archive", "{D}/dl/", "", "{D}/dl//archive.tar.gz",
        ".gz");
    add("short name ab", "/ab", "{D}/dl", "", "{D}/dl/ab", "ab");
    add("server suggests ../", "/escape", "{D}/dl", "", "{D}/dl/escape.txt", "txt");
    add("name with ..\\ set before the page", "/report.pdf", "{D}/dl", "..\\..\\escape.txt",
        "{D}/dl/escape.txt", "txt");
    add("non-ASCII name", "/cn", "{D}/dl", "", "{D}/dl/录像 报告.pdf", "pdf");
}

void TestDownloads::fixedFolder()
{
    QFETCH(QString, urlPath);
    QFETCH(QString, folderGiven);
    QFETCH(QString, presetName);
    QFETCH(QString, expectedText);
    QFETCH(QString, expectedSuffix);
    const QString d = m_dir->path();
    folderGiven.replace("{D\\}", QString(d).replace('/', '\\')).replace("{D}", d);
    expectedText.replace("{D}", d);
    QVERIFY(QDir().mkpath(m_dir->filePath("dl")));

    Requests requests([&](QWebEngineDownloadRequest* r) {
        if (!presetName.isEmpty())
            r->setDownloadFileName(presetName);
    });
    std::unique_ptr<VmsWebWidgets> w;
    QVERIFY(openPage(w));
    QVERIFY(setDownloadPath(*w, folderGiven));
    HostNotices host;
    FileDialogDriver dialogs([](QFileDialog* dialog) { dialog->reject(); });
    LogCapture log;

    clickDownloadLink(pageOf(*w), urlPath);
    QVERIFY(requests.oneCompleted());

    QCOMPARE(dialogs.count(), 0);
    QCOMPARE(host.texts, QStringList { tipText(expectedText, expectedSuffix) });
    const QString file = "dl/" + expectedText.section('/', -1);
    QCOMPARE(filesUnder(d), QStringList { file });
    QCOMPARE(readFile(m_dir->filePath(file)), m_body);
    QCOMPARE(log.debugLines(),
        QStringList({ "Download requested: \"" + m_server.url(urlPath).toString() + "\"",
            "Download accepted. Starting download..." }));
}

void TestDownloads::cancelledDialogCancelsTheDownload()
{
    Requests requests;
    std::unique_ptr<VmsWebWidgets> w;
    QVERIFY(openPage(w));
    HostNotices host;
    FileDialogDriver dialogs([](QFileDialog* dialog) { dialog->reject(); });
    LogCapture log;

    clickDownloadLink(pageOf(*w), "/report.pdf");
    QVERIFY(!requests.oneCompleted());

    QCOMPARE(dialogs.count(), 1);
    QVERIFY(requests.list.value(0));
    QCOMPARE(requests.list[0]->state(), QWebEngineDownloadRequest::DownloadCancelled);
    QVERIFY(host.texts.isEmpty());
    QCOMPARE(filesUnder(QDir::homePath()).filter("report"), QStringList());
    const QString url = debugQuoted(m_server.url("/report.pdf").toString());
    QCOMPARE(log.debugLines(),
        QStringList(
            { "Download requested: " + url, "tavi.webmodule: Download cancelled: no file chosen for " + url }));
}

void TestDownloads::requestEndedWhileTheDialogIsOpen()
{
    QPointer<QWebEngineDownloadRequest> request;
    Requests requests([&](QWebEngineDownloadRequest* r) { request = r; });
    std::unique_ptr<VmsWebWidgets> w;
    QVERIFY(openPage(w));
    HostNotices host;
    const QString picked = m_dir->filePath("late.pdf");
    FileDialogDriver dialogs([&](QFileDialog* dialog) {
        if (request)
            request->cancel();
        chooseInDialog(dialog, picked);
    });
    LogCapture log;

    clickDownloadLink(pageOf(*w), "/report.pdf");
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.count() == 1 && !visibleFileDialog(), 15000);

    QVERIFY(host.texts.isEmpty());
    QVERIFY(!QFile::exists(picked));
    QVERIFY(log.contains("Download request rejected. Error: "));
    QVERIFY(!log.contains("Download accepted. Starting download..."));
}

// An empty path brings the save dialog back. Two widget hosts are alive: one
// dialog, one tip.
void TestDownloads::emptyPathBringsTheDialogBack()
{
    const QString picked = m_dir->filePath("picked/mine.bin");
    QVERIFY(QDir().mkpath(m_dir->filePath("picked")));
    Requests requests;
    std::unique_ptr<VmsWebWidgets> first, second;
    QVERIFY(openPage(first));
    QVERIFY(openPage(second));
    QVERIFY(setDownloadPath(*first, m_dir->filePath("dl")));
    QVERIFY(setDownloadPath(*first, QString()));
    HostNotices host;
    FileDialogDriver dialogs([&](QFileDialog* dialog) { chooseInDialog(dialog, picked); });

    clickDownloadLink(pageOf(*second), "/report.pdf");
    QVERIFY(requests.oneCompleted());

    // Opened in the home folder with the suggested name filled in.
    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(dialogs.last().acceptMode, QFileDialog::AcceptSave);
    QCOMPARE(dialogs.last().selection, QStringList { QDir::homePath() + "/report.pdf" });
    // The picked path is the tip's text; the suffix still comes from the suggestion.
    QCOMPARE(host.texts, QStringList { tipText(picked, "pdf") });
    QCOMPARE(filesUnder(m_dir->path()), QStringList { "picked/mine.bin" });
    QCOMPARE(readFile(picked), m_body);
}

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
