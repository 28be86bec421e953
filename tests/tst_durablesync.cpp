// Durable writes: a copy or a snapshot is on the disk, data and folder entry,
// before anyone is told it was written; a sync the disk refuses is a failed
// write that tells no one. The folders MakePath makes are on the disk too.

#include "SyncRecorder.h"
#include "TestSupport.h"

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

} // namespace

class TestDurableSync : public QObject
{
    Q_OBJECT
private slots:
    // The file's data is synced before it takes the target's name, the
    // folder after; the host hears of it only then.
    void syncedBeforeTheNotice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("notice");
        for (const char* how : { "copy", "snapshot" }) {
            const QString notice = QString(how) == "copy" ? "showTip" : "afterSnapshot";
            QTest::addRow("%s, new file", how) << how << "fresh.bin" << notice;
            QTest::addRow("%s, over a file", how) << how << "existing.bin" << notice;
            QTest::addRow("%s, new folder", how) << how << "new/fresh.bin" << notice;
        }
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
        const auto marker = QObject::connect(
            WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitFuncInfoCenterNotify,
            [&recorder](QString& text) {
                recorder.mark("notice " + text.section('"', 3, 3)); // the "cmd" value
            });
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
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        for (const char* how : { "copy", "snapshot" }) {
            QTest::addRow("%s, data", how)
                << how << "fdatasync" << EIO << kOld << "Input/output error";
            QTest::addRow("%s, folder", how)
                << how << "fsync" << EIO << kNew << "Input/output error";
        }
    }

    void refusedSyncIsAFailedWrite()
    {
        QFETCH(QString, how);
        QFETCH(QString, refused);
        QFETCH(int, error);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        ScratchDir dir;
        QVERIFY(writeFile(dir.filePath("src.bin"), kNew));
        QVERIFY(writeFile(dir.filePath("existing.bin"), kOld));
        HostRecorder host;
        LogCapture log;
        {
            SyncRecorder recorder(dir.path());
            recorder.failCalls(refused, error);
            QCOMPARE(writeThroughBridge(how, dir, "existing.bin"), how == "copy");
            QVERIFY(recorder.events().contains(refused
                                               + (refused == "fsync" ? " {D}" : " {D}/.tavi-*")));
        }
        QCOMPARE(host.notices(), QStringList());
        const QString line
            = QStringLiteral("tavi.webmodule: Failed to write the %1: %2 %3")
                  .arg(how, debugQuoted(dir.filePath("existing.bin")), debugQuoted(reason));
        QVERIFY2(log.contains(line), qPrintable(log.lines().join('\n')));
        QCOMPARE(readFile(dir.filePath("existing.bin")), content);
        QCOMPARE(filesUnder(dir.path()), (QStringList { "existing.bin", "src.bin" }));
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
        QVERIFY(QFileInfo(dir.filePath("a/b/c")).isDir());
    }
};

QTEST_MAIN(TestDurableSync)
#include "tst_durablesync.moc"
