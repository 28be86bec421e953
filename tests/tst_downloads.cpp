// Downloads that pages start: into the folder set with SetDownloadPath, or
// where the user picks in the save dialog; the host gets a "showTip".

#include "TestSupport.h"

#include <DownloadServer.h>
#include <QtCore/QStandardPaths>
#include <QtWidgets/QFileDialog>
#include <WebAccessPolicy.h>
#include <WebPage.h>
#include <optional>

using namespace TestSupport;

namespace {

const QString kRejected = QStringLiteral("Download request rejected. Error: ");

} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT
    DownloadServer m_server;
    std::optional<ScratchDir> m_dir;
    QByteArray m_body = QByteArray("%PDF-1.4 test body\n").repeated(500);

    // A new page host (after any DownloadRequests made before) on the bridge page.
    std::unique_ptr<BridgePage> openPage()
    {
        auto host = std::make_unique<BridgePage>();
        if (!host->load())
            host.reset();
        return host;
    }
    // The page starts a download of urlPath, as a link with a download
    // attribute that the user clicks.
    void clickDownloadLink(QWebEnginePage* page, const QString& urlPath)
    {
        QVERIFY(evalJs(page, downloadLinkScript(m_server.url(urlPath).toString(QUrl::FullyEncoded)))
                    .toBool());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.addFile("/report.pdf", m_body, "report.pdf");
        m_server.addFile("/archive", m_body, "archive.tar.gz");
        // A response that comes when the test wants it, and pages that
        // start downloads of their own origin.
        m_server.addFile("/late.bin", m_body, "late.bin");
        m_server.addPage("/start.html", "<p>start</p>");
        // A new browsing context group: the document that asked is gone.
        m_server.addPage("/isolated.html", "<p>isolated</p>",
                         "Cross-Origin-Opener-Policy: same-origin\r\n");
    }

    void cleanup() { m_server.release("/late.bin"); }

    void init()
    {
        // Shared by every page of the process: each test starts from the default.
        CWebPage::m_strDownloadPath.clear();
        WebAccessPolicy::global().setFileRoots({}, {});
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }

    // The file lands in {D}/dl under the name that the tip's text ends in;
    // no folder part of a suggested name leads it out of there.
    void fixedFolder_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::addColumn<QString>("folder"); // through SetDownloadPath
        QTest::addColumn<QString>("preset"); // a name set on the request before the page sees it
        QTest::addColumn<QString>("tip"); // "text|suffix"
        QTest::addColumn<bool>("byHost"); // CWebPage::SetDownloadPath on a thread of the host
        const auto add = [](const char* name, const char* url, const char* folder,
                            const char* preset, const char* tip, bool byHost = false) {
            QTest::newRow(name) << url << folder << preset << tip << byHost;
        };
        add("backslashes in the folder", "/report.pdf", "{D\\}\\dl", "", "{D}/dl/report.pdf|pdf");
        add("trailing slash", "/archive", "{D}/dl/", "", "{D}/dl//archive.tar.gz|.gz");
        add("name with ..\\ set before the page", "/report.pdf", "{D}/dl", "..\\..\\escape.txt",
            "{D}/dl/escape.txt|txt");
        add("set by the host off the GUI thread", "/report.pdf", "{D}/dl", "",
            "{D}/dl/report.pdf|pdf", true);
    }

    void fixedFolder()
    {
        QFETCH(QString, urlPath);
        QFETCH(QString, folder);
        QFETCH(QString, preset);
        QFETCH(QString, tip);
        QFETCH(bool, byHost);
        const QString expectedText = m_dir->fill(tip.section('|', 0, 0));
        QVERIFY(QDir().mkpath(m_dir->filePath("dl")));
        DownloadRequests requests([&](QWebEngineDownloadRequest* r) {
            if (!preset.isEmpty())
                r->setDownloadFileName(preset);
        });
        auto page = openPage();
        QVERIFY(page);
        if (byHost) {
            std::thread([path = m_dir->fill(folder)] { CWebPage::SetDownloadPath(path); }).join();
            // Written on the GUI thread, where the member is read.
            QVERIFY(CWebPage::m_strDownloadPath.isEmpty());
            QTRY_COMPARE(CWebPage::m_strDownloadPath, m_dir->fill(folder));
        } else {
            callBridge(page->page(), "SetDownloadPath", { m_dir->fill(folder) });
        }
        HostRecorder host;
        DialogDriver<QFileDialog> dialogs([](QFileDialog*) {});
        LogCapture log;

        clickDownloadLink(page->page(), urlPath);
        QVERIFY(requests.oneCompleted());
        QCOMPARE(dialogs.count(), 0);
        QCOMPARE(host.notices(), QStringList { tipText(expectedText, tip.section('|', 1)) });
        const QString file = "dl/" + expectedText.section('/', -1);
        QCOMPARE(filesUnder(m_dir->path()), QStringList { file });
        QCOMPARE(readFile(m_dir->filePath(file)), m_body);
        // The end line comes once the file is on the disk, after the engine's end.
        const QString saved = "tavi.webmodule: Download saved: " + debugQuoted(expectedText);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(saved), 15000);
        QCOMPARE(
            log.debugLines(),
            QStringList({ "Download requested: " + debugQuoted(m_server.url(urlPath).toString()),
                          "Download accepted. Starting download...", saved }));
    }

    // A response that comes once the document that asked is gone: the
    // request is cancelled with a line, nothing is saved and nothing else
    // happens (another page, still open, sees the request).
    void lateResponse_data()
    {
        QTest::addColumn<bool>("deleteView");
        QTest::addColumn<QString>("line");
        QTest::newRow("the page navigated to a page of its own browsing group")
            << false << "the document";
        QTest::newRow("the host deleted the view") << true << "the page";
    }
    void lateResponse()
    {
        QFETCH(bool, deleteView);
        QFETCH(QString, line);
        QPointer<QWebEngineDownloadRequest> request;
        DownloadRequests requests([&](QWebEngineDownloadRequest* r) { request = r; });
        auto stays = openPage();
        QVERIFY(stays);
        auto host = std::make_unique<BridgePage>();
        QVERIFY(loadPage(host->widgets, m_server.url("/start.html")));
        callBridge(stays->page(), "SetDownloadPath", { m_dir->filePath("dl") });
        m_server.hold("/late.bin");
        QSignalSpy held(&m_server, &DownloadServer::held);
        // Of the page's own origin: a download from the start, not a navigation.
        QVERIFY(evalJs(host->page(), downloadLinkScript("/late.bin")).toBool());
        // It may have come while the script ran.
        QVERIFY(!held.isEmpty() || held.wait(15000));
        if (deleteView)
            host.reset();
        else
            QVERIFY(loadPage(host->widgets, m_server.url("/isolated.html")));
        HostRecorder notices;
        LogCapture log;
        m_server.release("/late.bin");
        const QString cancelled = "tavi.webmodule: Download cancelled: " + line
            + " that started it is gone: " + m_server.url("/late.bin").toString();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(cancelled), 15000);
        QCOMPARE(log.lines().mid(log.lines().indexOf(cancelled)),
                 QStringList({ cancelled, kRejected }));
        QVERIFY(request && request->state() == QWebEngineDownloadRequest::DownloadCancelled);
        QVERIFY(notices.notices().isEmpty());
        QCOMPARE(filesUnder(m_dir->path()), QStringList());
    }

    // A file of the same name stays as it was: the download takes the
    // first free name, as browsers do.
    void existingFileStays_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one") << "/report.pdf" << QStringList { "report.pdf" } << "report (1).pdf";
        QTest::newRow("two") << "/report.pdf" << QStringList { "report.pdf", "report (1).pdf" }
                             << "report (2).pdf";
        QTest::newRow("double suffix")
            << "/archive" << QStringList { "archive.tar.gz" } << "archive (1).tar.gz";
        QTest::newRow("a dangling link")
            << "/report.pdf" << QStringList { "report.pdf@" } << "report (1).pdf";
    }
    void existingFileStays()
    {
        QFETCH(QString, urlPath);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QStringList before;
        for (QString name : existing) {
            if (name.endsWith('@')) {
                name.chop(1);
                QVERIFY(QDir().mkpath(m_dir->filePath("dl")));
                QVERIFY(QFile::link(m_dir->filePath("gone"), m_dir->filePath("dl/" + name)));
                continue;
            }
            QVERIFY(writeFile(m_dir->filePath("dl/" + name), "mine: " + name.toUtf8()));
            before << "dl/" + name;
        }
        DownloadRequests requests;
        auto page = openPage();
        QVERIFY(page);
        callBridge(page->page(), "SetDownloadPath", { m_dir->filePath("dl") });
        HostRecorder host;
        clickDownloadLink(page->page(), urlPath);
        QVERIFY(requests.oneCompleted());
        const QString landed = m_dir->filePath("dl/" + expected);
        QCOMPARE(host.notices(),
                 QStringList { tipText(landed, urlPath == "/archive" ? ".gz" : "pdf") });
        QCOMPARE(readFile(landed), m_body);
        for (const QString& file : before)
            QCOMPARE(readFile(m_dir->filePath(file)), "mine: " + file.section('/', -1).toUtf8());
        QVERIFY(!QFile::exists(m_dir->filePath("gone")));
    }

    // A folder that cannot hold the file, or that the page may not write,
    // refuses the download at once: no tip for a file that would never
    // exist, and the request ends as rejected.
    void refusedFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("rooted"); // pages may write only another folder
        QTest::addColumn<QString>("why");
        QTest::newRow("a file where the folder would go")
            << "{D}/blocker/dl" << false
            << "tavi.webmodule: Download refused: the folder cannot be written: \"{D}/blocker/dl\"";
        QTest::newRow("outside the file roots")
            << "{D}/dl" << true
            << "tavi.webmodule: Refused DownloadRequested: writing outside the file roots: "
               "{D}/dl/report.pdf";
    }

    void refusedFolder()
    {
        QFETCH(QString, folder);
        QFETCH(bool, rooted);
        QFETCH(QString, why);
        folder = m_dir->fill(folder);
        why = m_dir->fill(why);
        QVERIFY(writeFile(m_dir->filePath("blocker"), "a file"));
        QPointer<QWebEngineDownloadRequest> request;
        DownloadRequests requests([&](QWebEngineDownloadRequest* r) { request = r; });
        auto page = openPage();
        QVERIFY(page);
        // Set by the host: the page could not set a folder outside the roots.
        CWebPage::m_strDownloadPath = folder;
        if (rooted)
            WebAccessPolicy::global().setFileRoots({}, { m_dir->filePath("elsewhere") });
        HostRecorder host;
        LogCapture log;
        clickDownloadLink(page->page(), "/report.pdf");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(kRejected), 15000);
        QCOMPARE(log.lines(),
                 QStringList(
                     { "Download requested: " + debugQuoted(m_server.url("/report.pdf").toString()),
                       why, kRejected }));
        QVERIFY(request && request->state() == QWebEngineDownloadRequest::DownloadCancelled);
        QVERIFY(host.notices().isEmpty());
    }

    // Nothing is saved and no tip sent when the user cancels the save dialog,
    // nor when the request ends while the dialog is open.
    void dialogWithoutDownload_data()
    {
        QTest::addColumn<bool>("requestEnds");
        QTest::newRow("cancelled") << false;
        QTest::newRow("request ended meanwhile") << true;
    }

    void dialogWithoutDownload()
    {
        QFETCH(bool, requestEnds);
        QPointer<QWebEngineDownloadRequest> request;
        DownloadRequests requests([&](QWebEngineDownloadRequest* r) { request = r; });
        auto page = openPage();
        QVERIFY(page);
        HostRecorder host;
        const QString picked = m_dir->filePath("late.pdf");
        DialogDriver<QFileDialog> dialogs([&](QFileDialog* dialog) {
            if (requestEnds && request)
                request->cancel();
            if (requestEnds)
                chooseInDialog(dialog, picked);
        });
        LogCapture log;
        clickDownloadLink(page->page(), "/report.pdf");
        const QString url = debugQuoted(m_server.url("/report.pdf").toString());
        QStringList lines { "Download requested: " + url };
        if (!requestEnds)
            lines << "tavi.webmodule: Download cancelled: no file chosen for " + url;
        lines << kRejected;
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(kRejected), 15000);
        QCOMPARE(log.debugLines(), lines);
        QCOMPARE(dialogs.count(), 1);
        QVERIFY(request && request->state() == QWebEngineDownloadRequest::DownloadCancelled);
        QVERIFY(host.notices().isEmpty());
        QVERIFY(!QFile::exists(picked));
        // Nor where the dialog opened, nor in the engine's own download folder.
        for (const QString& folder :
             { QDir::homePath(),
               QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) })
            QCOMPARE(QDir(folder).entryList({ "report*" }, QDir::Files | QDir::Hidden),
                     QStringList());
    }

    // An empty path brings the save dialog back, opened in the home folder
    // with the suggested name. Two widget hosts are alive: one dialog, one tip.
    void emptyPathBringsTheDialogBack()
    {
        const QString picked = m_dir->filePath("picked/mine.bin");
        QVERIFY(QDir().mkpath(m_dir->filePath("picked")));
        DownloadRequests requests;
        auto first = openPage(), second = openPage();
        QVERIFY(first && second);
        callBridge(first->page(), "SetDownloadPath", { m_dir->filePath("dl") });
        callBridge(first->page(), "SetDownloadPath", { QString() });
        HostRecorder host;
        QStringList offered;
        DialogDriver<QFileDialog> dialogs([&](QFileDialog* dialog) {
            offered = dialog->selectedFiles();
            offered << QString::number(dialog->acceptMode());
            chooseInDialog(dialog, picked);
        });

        clickDownloadLink(second->page(), "/report.pdf");
        QVERIFY(requests.oneCompleted());
        QCOMPARE(dialogs.count(), 1);
        QCOMPARE(offered,
                 QStringList({ QDir::homePath() + "/report.pdf",
                               QString::number(QFileDialog::AcceptSave) }));
        // The picked path is the tip's text; the suffix still comes from the suggestion.
        QCOMPARE(host.notices(), QStringList { tipText(picked, "pdf") });
        QCOMPARE(filesUnder(m_dir->path()), QStringList { "picked/mine.bin" });
        QCOMPARE(readFile(picked), m_body);
    }
};

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
