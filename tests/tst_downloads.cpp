#include "FileDialogDriver.h"
#include "TestSupport.h"

#include <DownloadServer.h>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtCore/QTemporaryDir>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebPage.h>
#include <WebViewDataCenter.h>

using namespace TestSupport;

namespace {

// Every download request of the profile, seen after the pages have handled it.
struct Requests
{
    QList<QPointer<QWebEngineDownloadRequest>> list;
    QMetaObject::Connection connection;

    Requests()
    {
        connection = QObject::connect(QWebEngineProfile::defaultProfile(),
            &QWebEngineProfile::downloadRequested,
            [this](QWebEngineDownloadRequest* r) { list << r; });
    }
    ~Requests() { QObject::disconnect(connection); }

    // Waits until every request has ended; true when all completed.
    bool waitAllFinished(int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (const auto& r : list) {
            while (r && !r->isFinished() && !deadline.hasExpired())
                QTest::qWait(20);
            if (!r || r->state() != QWebEngineDownloadRequest::DownloadCompleted)
                return false;
        }
        return true;
    }
};

QString tipText(const QString& path, const QString& suffix)
{
    const QJsonObject tip { { "cmd", "showTip" },
        { "data", QJsonObject { { "text", path }, { "type", "file" }, { "suffix", suffix } } } };
    return QString::fromUtf8(QJsonDocument(tip).toJson(QJsonDocument::Indented));
}

// Every regular file under dir, relative to it.
QStringList filesUnder(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void setDownloadPathStoresForwardSlashes_data();
    void setDownloadPathStoresForwardSlashes();
    void fixedFolder_data();
    void fixedFolder();
    void emptyPathBringsTheDialogBack();
    void cancelledDialogCancelsTheDownload();
    void requestEndedWhileTheDialogIsOpen();
    void twoHostsOneDialogOneTip();

private:
    // Lets the page start a download of urlPath on the test's server, as a
    // link with a download attribute that the user clicks.
    void clickDownloadLink(QWebEnginePage* page, const QString& urlPath);
    void setDownloadPathFromPage(QWebEnginePage* page, const QString& path);

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

void TestDownloads::cleanup()
{
    CWebPage::m_strDownloadPath.clear();
}

void TestDownloads::clickDownloadLink(QWebEnginePage* page, const QString& urlPath)
{
    const QString script
        = QStringLiteral(
            "(function () { var a = document.createElement('a'); a.href = %1; a.download = '';"
            " document.body.appendChild(a); a.click(); return true; })()")
              .arg(QString::fromUtf8(QJsonDocument(QJsonArray { m_server.url(urlPath).toString() })
                                         .toJson(QJsonDocument::Compact))
                       .mid(1)
                       .chopped(1));
    QVERIFY(evalJs(page, script).toBool());
}

void TestDownloads::setDownloadPathFromPage(QWebEnginePage* page, const QString& path)
{
    bool ok = false;
    callBridge(page, "SetDownloadPath", { path }, &ok);
    QVERIFY(ok);
}

void TestDownloads::setDownloadPathStoresForwardSlashes_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    QTest::newRow("backslashes") << "C:\\data\\dl"
                                 << "C:/data/dl";
    QTest::newRow("mixed") << "/data\\dl/x\\"
                           << "/data/dl/x/";
    QTest::newRow("trailing slash kept") << "/data/dl/"
                                         << "/data/dl/";
    QTest::newRow("empty") << ""
                           << "";
}

void TestDownloads::setDownloadPathStoresForwardSlashes()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);
    CWebPage::m_strDownloadPath = QStringLiteral("/before");
    CWebComm bridge;
    bridge.SetDownloadPath(given);
    QCOMPARE(CWebPage::m_strDownloadPath, stored);
}

// "{D}" stands for the test's scratch folder.
void TestDownloads::fixedFolder_data()
{
    QTest::addColumn<QString>("urlPath");
    QTest::addColumn<QString>("folderGiven");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<QString>("expectedSuffix");
    QTest::addColumn<QString>("expectedFile");
    QTest::addColumn<QString>("presetName"); // set on the request before the page sees it

    QTest::newRow("report.pdf") << "/report.pdf"
                                << "{D}/dl"
                                << "{D}/dl/report.pdf"
                                << "pdf"
                                << "dl/report.pdf"
                                << "";
    QTest::newRow("archive.tar.gz") << "/archive"
                                    << "{D}/dl"
                                    << "{D}/dl/archive.tar.gz"
                                    << ".gz"
                                    << "dl/archive.tar.gz"
                                    << "";
    QTest::newRow("short name ab") << "/ab"
                                   << "{D}/dl"
                                   << "{D}/dl/ab"
                                   << "ab"
                                   << "dl/ab"
                                   << "";
    QTest::newRow("backslashes in the folder") << "/report.pdf"
                                               << "{D\\}\\dl"
                                               << "{D}/dl/report.pdf"
                                               << "pdf"
                                               << "dl/report.pdf"
                                               << "";
    QTest::newRow("trailing slash") << "/report.pdf"
                                    << "{D}/dl/"
                                    << "{D}/dl//report.pdf"
                                    << "pdf"
                                    << "dl/report.pdf"
                                    << "";
    QTest::newRow("server suggests ../") << "/escape"
                                         << "{D}/dl"
                                         << "{D}/dl/escape.txt"
                                         << "txt"
                                         << "dl/escape.txt"
                                         << "";
    QTest::newRow("name with ../ set before the page") << "/report.pdf"
                                                       << "{D}/dl"
                                                       << "{D}/dl/escape.txt"
                                                       << "txt"
                                                       << "dl/escape.txt"
                                                       << "../../escape.txt";
    QTest::newRow("name with backslashes set before the page") << "/report.pdf"
                                                               << "{D}/dl"
                                                               << "{D}/dl/escape.txt"
                                                               << "txt"
                                                               << "dl/escape.txt"
                                                               << "..\\..\\escape.txt";
    QTest::newRow("non-ASCII name") << "/cn"
                                    << "{D}/dl"
                                    << "{D}/dl/录像 报告.pdf"
                                    << "pdf"
                                    << "dl/录像 报告.pdf"
                                    << "";
}

void TestDownloads::fixedFolder()
{
    QFETCH(QString, urlPath);
    QFETCH(QString, folderGiven);
    QFETCH(QString, expectedText);
    QFETCH(QString, expectedSuffix);
    QFETCH(QString, expectedFile);
    QFETCH(QString, presetName);
    const QString d = m_dir->path();
    folderGiven.replace("{D\\}", QString(d).replace('/', '\\')).replace("{D}", d);
    expectedText.replace("{D}", d);
    QVERIFY(QDir().mkpath(m_dir->filePath("dl")));

    // Connected before the page's slot, as another handler of the host's.
    QMetaObject::Connection preset;
    if (!presetName.isEmpty()) {
        preset = connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested,
            [&](QWebEngineDownloadRequest* r) { r->setDownloadFileName(presetName); });
    }
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    setDownloadPathFromPage(pageOf(w), folderGiven);
    HostNotices host;
    Requests requests;
    FileDialogDriver dialogs([](QFileDialog* dialog) { dialog->reject(); });
    LogCapture log;

    clickDownloadLink(pageOf(w), urlPath);
    QTRY_COMPARE_WITH_TIMEOUT(requests.list.size(), 1, 15000);
    QVERIFY(requests.waitAllFinished());

    disconnect(preset);

    QCOMPARE(dialogs.count(), 0);
    QCOMPARE(host.texts, QStringList { tipText(expectedText, expectedSuffix) });
    QCOMPARE(filesUnder(d), QStringList { expectedFile });
    QCOMPARE(readFile(m_dir->filePath(expectedFile)), m_body);
    QCOMPARE(log.debugLines(),
        QStringList({ "Download requested: \"" + m_server.url(urlPath).toString() + "\"",
            "Download accepted. Starting download..." }));
}

void TestDownloads::emptyPathBringsTheDialogBack()
{
    QVERIFY(QDir().mkpath(m_dir->filePath("picked")));
    const QString picked = m_dir->filePath("picked/mine.bin");
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    setDownloadPathFromPage(pageOf(w), m_dir->filePath("dl"));
    setDownloadPathFromPage(pageOf(w), QString());
    HostNotices host;
    Requests requests;
    FileDialogDriver dialogs([&](QFileDialog* dialog) { chooseInDialog(dialog, picked); });

    clickDownloadLink(pageOf(w), "/report.pdf");
    QTRY_COMPARE_WITH_TIMEOUT(requests.list.size(), 1, 15000);
    QVERIFY(requests.waitAllFinished());

    // Opened in the home folder with the suggested name filled in.
    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(dialogs.lastAcceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialogs.lastSelection(), QStringList { QDir::homePath() + "/report.pdf" });
    // The picked path is the tip's text; the suffix still comes from the suggestion.
    QCOMPARE(host.texts, QStringList { tipText(picked, "pdf") });
    QCOMPARE(filesUnder(m_dir->path()), QStringList { "picked/mine.bin" });
    QCOMPARE(readFile(picked), m_body);
}

void TestDownloads::cancelledDialogCancelsTheDownload()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    HostNotices host;
    Requests requests;
    FileDialogDriver dialogs([](QFileDialog* dialog) { dialog->reject(); });
    LogCapture log;

    clickDownloadLink(pageOf(w), "/report.pdf");
    QTRY_COMPARE_WITH_TIMEOUT(requests.list.size(), 1, 15000);
    QTRY_VERIFY(!requests.list.first() || requests.list.first()->isFinished());

    QCOMPARE(dialogs.count(), 1);
    QVERIFY(requests.list.first());
    QCOMPARE(requests.list.first()->state(), QWebEngineDownloadRequest::DownloadCancelled);
    QVERIFY(host.texts.isEmpty());
    QCOMPARE(filesUnder(QDir::homePath()).filter("report"), QStringList());
    QCOMPARE(log.debugLines(),
        QStringList({ "Download requested: \"" + m_server.url("/report.pdf").toString() + "\"",
            "Download cancelled: no file chosen for \"" + m_server.url("/report.pdf").toString()
                + "\"" }));
}

void TestDownloads::requestEndedWhileTheDialogIsOpen()
{
    // Connected before the page's slot, so the request is known while the
    // dialog is open.
    QPointer<QWebEngineDownloadRequest> request;
    const auto early = connect(QWebEngineProfile::defaultProfile(),
        &QWebEngineProfile::downloadRequested, [&](QWebEngineDownloadRequest* r) { request = r; });
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    HostNotices host;
    const QString picked = m_dir->filePath("late.pdf");
    FileDialogDriver dialogs([&](QFileDialog* dialog) {
        if (request)
            request->cancel();
        chooseInDialog(dialog, picked);
    });
    LogCapture log;

    clickDownloadLink(pageOf(w), "/report.pdf");
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.count() == 1 && !visibleFileDialog(), 15000);
    disconnect(early);

    QVERIFY(host.texts.isEmpty());
    QVERIFY(!QFile::exists(picked));
    QVERIFY(log.contains("Download request rejected. Error: "));
    QVERIFY(!log.contains("Download accepted. Starting download..."));
}

void TestDownloads::twoHostsOneDialogOneTip()
{
    const QString picked = m_dir->filePath("both.pdf");
    QWidget parent;
    VmsWebWidgets first(&parent);
    VmsWebWidgets second(&parent);
    QVERIFY(loadBridgePage(first));
    QVERIFY(loadBridgePage(second));
    HostNotices host;
    Requests requests;
    FileDialogDriver dialogs([&](QFileDialog* dialog) { chooseInDialog(dialog, picked); });

    clickDownloadLink(pageOf(second), "/report.pdf");
    QTRY_COMPARE_WITH_TIMEOUT(requests.list.size(), 1, 15000);
    QVERIFY(requests.waitAllFinished());

    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(host.texts, QStringList { tipText(picked, "pdf") });
    QCOMPARE(readFile(picked), m_body);
}

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
