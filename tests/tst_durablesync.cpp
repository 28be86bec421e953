// Durable writes: a copy or a snapshot is on the disk, data and folder entry,
// before anyone is told it was written; a sync the disk refuses is a failed
// write that tells no one. A finished download and the folders MakePath makes
// are on the disk too.

#include "SyncRecorder.h"
#include "TestSupport.h"

#include <DownloadServer.h>
#include <MakePath.h>
#include <cerrno>

using namespace TestSupport;

namespace {

const QByteArray kOld("the older content");
const QByteArray kNew = QByteArray("recording data \x01\x02\x00\xff ", 20).repeated(3000);

// Writes kNew at "{D}/<name>" through the bridge as a copy or a snapshot;
// false when the bridge answered that it failed (only a snapshot answers).
bool writeThroughBridge(const QString& how, const ScratchDir& dir, const QString& name)
{
    const QString target = dir.filePath(name);
    if (how == "snapshot")
        return CWebComm().AfterSnapshot("data:image/jpeg;base64,"
                                            + QString::fromLatin1(kNew.toBase64()),
                                        "ch-1", 7, target)
            == 0;
    CWebComm().CopyFileFunc(QStringLiteral("[{\"sourceFile\": \"%1\", \"targetFile\": \"%2\"}]")
                                .arg(dir.filePath("src.bin"), target));
    return true;
}

// Marks each host notice among the recorded calls: "notice <cmd>".
QMetaObject::Connection markNotices(SyncRecorder& recorder)
{
    return QObject::connect(dc(), &WebViewDataCenter::emitFuncInfoCenterNotify,
                            [&recorder](QString& text) {
                                recorder.mark("notice " + text.section('"', 3, 3)); // "cmd"
                            });
}

} // namespace

class TestDurableSync : public QObject
{
    Q_OBJECT
    DownloadServer m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.addFile("/report.pdf", kNew, "report.pdf");
    }

    // The file's data is synced before it takes the target's name, the
    // folder after; the host hears of it only then. (Over a file or into
    // another folder the write takes the same steps.)
    void syncedBeforeTheNotice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("notice");
        QTest::newRow("copy") << "copy"
                              << "existing.bin"
                              << "showTip";
        QTest::newRow("snapshot") << "snapshot"
                                  << "new/fresh.bin"
                                  << "afterSnapshot";
    }

    void syncedBeforeTheNotice()
    {
        QFETCH(QString, how);
        QFETCH(QString, name);
        QFETCH(QString, notice);
        ScratchDir dir;
        QVERIFY(writeFile(dir.filePath("src.bin"), kNew));
        QVERIFY(writeFile(dir.filePath("existing.bin"), kOld));
        QVERIFY(QDir().mkpath(dir.filePath("new")));
        SyncRecorder recorder(dir.path());
        const auto marker = markNotices(recorder);
        const bool written = writeThroughBridge(how, dir, name);
        QObject::disconnect(marker);

        QVERIFY(written);
        QCOMPARE(readFile(dir.filePath(name)), kNew);
        const QString folder = QFileInfo("{D}/" + name).path();
        QCOMPARE(recorder.events(),
                 (QStringList { "fdatasync " + folder + "/.tavi-*",
                                "rename " + folder + "/.tavi-* {D}/" + name, "fsync " + folder,
                                "notice " + notice }));
    }

    // A refused data sync keeps the old target and leaves no temporary file;
    // a refused folder sync comes after the rename, so the new content
    // stands, but neither is reported written.
    void refusedSyncIsAFailedWrite_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("copy, data") << "copy"
                                    << "fdatasync" << kOld;
        QTest::newRow("copy, folder") << "copy"
                                      << "fsync" << kNew;
        // The folder's sync is the replacing file's, as for the copy.
        QTest::newRow("snapshot, data") << "snapshot"
                                        << "fdatasync" << kOld;
    }

    void refusedSyncIsAFailedWrite()
    {
        QFETCH(QString, how);
        QFETCH(QString, refused);
        QFETCH(QByteArray, content);
        ScratchDir dir;
        QVERIFY(writeFile(dir.filePath("src.bin"), kNew));
        QVERIFY(writeFile(dir.filePath("existing.bin"), kOld));
        HostRecorder host;
        LogCapture log;
        {
            SyncRecorder recorder(dir.path());
            recorder.failCalls(refused, EIO);
            QCOMPARE(writeThroughBridge(how, dir, "existing.bin"), how == "copy");
            QVERIFY(recorder.events().contains(refused
                                               + (refused == "fsync" ? " {D}" : " {D}/.tavi-*")));
        }
        QCOMPARE(host.notices(), QStringList());
        const QString line = QStringLiteral("tavi.webmodule: Failed to write the %1: %2 %3")
                                 .arg(how, debugQuoted(dir.filePath("existing.bin")),
                                      debugQuoted("Input/output error"));
        QVERIFY2(log.contains(line), qPrintable(log.lines().join('\n')));
        QCOMPARE(readFile(dir.filePath("existing.bin")), content);
        QCOMPARE(filesUnder(dir.path()), (QStringList { "existing.bin", "src.bin" }));
    }

    // The engine syncs a download's data and renames it; then the module
    // syncs the file and the entries that lead to it, before its line that
    // the download ended. The tip comes at acceptance, as ever.
    void downloadSyncedBeforeItEnds_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("refused"); // a sync call the disk refuses
        QTest::addColumn<QStringList>("syncs"); // after the rename
        QTest::addColumn<QString>("end");
        QTest::newRow("into its folder")
            << "dl"
            << "" << QStringList { "fdatasync {D}/dl/report.pdf", "fsync {D}/dl" }
            << "Download saved: %1";
        QTest::newRow("into folders made for it")
            << "new/sub"
            << ""
            << QStringList { "fdatasync {D}/new/sub/report.pdf", "fsync {D}/new/sub",
                             "fsync {D}/new", "fsync {D}" }
            << "Download saved: %1";
        QTest::newRow("folder sync refused")
            << "dl"
            << "fsync" << QStringList { "fdatasync {D}/dl/report.pdf", "fsync {D}/dl" }
            << "Failed to sync the download: %1 \"Input/output error\"";
    }

    void downloadSyncedBeforeItEnds()
    {
        QFETCH(QString, folder);
        QFETCH(QString, refused);
        QFETCH(QStringList, syncs);
        QFETCH(QString, end);
        ScratchDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("dl")));
        BridgePage page;
        QVERIFY(page.load());
        callBridge(page.page(), "SetDownloadPath", { dir.filePath(folder) });
        const QString target = dir.filePath(folder + "/report.pdf");
        SyncRecorder recorder(dir.path());
        if (!refused.isEmpty())
            recorder.failCalls(refused, EIO);
        LogCapture log;
        log.observe([&recorder](const QString& line) {
            if (line.startsWith("tavi.webmodule: "))
                recorder.mark("log " + line);
        });
        const auto marker = markNotices(recorder);
        QVERIFY(evalJs(page.page(),
                       downloadLinkScript(m_server.url("/report.pdf").toString(QUrl::FullyEncoded)))
                    .toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.events().filter(QRegularExpression("^log ")).isEmpty(),
                                 20000);
        QObject::disconnect(marker);

        const QStringList events = recorder.events();
        qsizetype renamed = events.size();
        while (--renamed >= 0
               && !(events[renamed].startsWith("rename ")
                    && events[renamed].endsWith(" {D}/" + folder + "/report.pdf"))) {}
        QVERIFY2(renamed >= 0, qPrintable(events.join('\n')));
        QVERIFY2(events.indexOf("notice showTip") < renamed, qPrintable(events.join('\n')));
        QCOMPARE(events.mid(renamed + 1),
                 syncs << "log tavi.webmodule: " + end.arg(debugQuoted(target)));
        QCOMPARE(readFile(target), kNew);
    }

    // Each folder MakePath makes is synced into its parent as it is made;
    // those that were there are not.
    void makePathSyncsEachFolderMade_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("syncs");
        QTest::newRow("three made")
            << ""
            << "{D}/a/b/c" << QStringList { "fsync {D}", "fsync {D}/a", "fsync {D}/a/b" };
        QTest::newRow("relative, two made")
            << "a"
            << "a/b/c" << QStringList { "fsync {D}/a", "fsync {D}/a/b" };
        QTest::newRow("all there") << "a/b/c"
                                   << "{D}/a/b/c" << QStringList();
    }

    void makePathSyncsEachFolderMade()
    {
        QFETCH(QString, existing);
        QFETCH(QString, path);
        QFETCH(QStringList, syncs);
        ScratchDir dir; // the current folder too
        QVERIFY(existing.isEmpty() || QDir().mkpath(dir.filePath(existing)));
        SyncRecorder recorder(dir.path());
        QCOMPARE(MakePath(dir.fill(path)), 0);
        QCOMPARE(recorder.events(), syncs);
    }
};

QTEST_MAIN(TestDurableSync)
#include "tst_durablesync.moc"
