#include "TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <csignal>
#include <sys/resource.h>

using namespace TestSupport;

namespace {

// The host's notice, byte for byte (for paths without quotes or backslashes).
QString snapshotNotice(const QString& filePath, const QString& channelId, int time)
{
    return QStringLiteral("{\n    \"cmd\": \"afterSnapshot\",\n    \"data\": {\n        "
                          "\"channelId\": \"%1\",\n        \"filePath\": \"%2\",\n        "
                          "\"time\": %3\n    }\n}\n")
        .arg(channelId, filePath, QString::number(time));
}

const QByteArray kJpeg("\xff\xd8\xff\xe0 not quite a JPEG \x00\x01\xff\xd9", 27);

} // namespace

class TestSnapshot : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void afterSnapshot_data();
    void afterSnapshot();
    void failedWriteKeepsTheExistingFile();
    void snapshotFromPage();
    void makePath_data();
    void makePath();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_previousCurrent;
};

void TestSnapshot::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_previousCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(writeFile(path("blocker"), "a file where a folder would go"));
    QVERIFY(writeFile(path("existing.jpg"), "the older snapshot"));
}

void TestSnapshot::cleanup()
{
    QDir::setCurrent(m_previousCurrent);
}

// "{D}" is the scratch folder (also the current one), "{D\}" the same with
// backslashes. A warning replaces the second log line; on failure nothing is
// written and no notice sent.
void TestSnapshot::afterSnapshot_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("writtenAs"); // the path as stored and reported
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("warning");
    const auto add = [](const char* name, const QString& image, const QString& filePath, int result,
                         const QString& writtenAs, const QByteArray& content = {},
                         const QString& warning = {}) {
        QTest::newRow(name) << image << filePath << result << writtenAs << content << warning;
    };

    const QString jpeg = "data:image/jpeg;base64," + QString::fromLatin1(kJpeg.toBase64());
    add("JPEG data URL, backslash path", jpeg, "{D\\}\\snap\\a.jpg", 0, "{D}/snap/a.jpg", kJpeg);
    add("existing file replaced", jpeg, "{D}/existing.jpg", 0, "{D}/existing.jpg", kJpeg);
    add("marker twice: cut after the first", "data:x;base64,QUJD;base64,RA==", "{D}/a.jpg", 0,
        "{D}/a.jpg", QByteArray::fromBase64("QUJDbase64RA=="));
    add("marker at the end: empty file", "data:image/png;base64,", "{D}/empty.png", 0,
        "{D}/empty.png", QByteArray());
    add("characters outside the alphabet are skipped", "data:;base64,QU J\nD*R\tA==", "{D}/a.jpg",
        0, "{D}/a.jpg", "ABCD");
    add("a NUL ends the payload", QString("data:;base64,QUJD") + QChar(0) + "RA==", "{D}/a.jpg", 0,
        "{D}/a.jpg", "ABC");
    add("no marker", "data:image/png,QUJD", "{D}/a.jpg", -1, "{D}/a.jpg", {},
        "[AfterSnapshot] base64 缺少 'base64,' 前缀, 数据格式错误 (filePath= \"{D}/a.jpg\" )");
    add("bare file name", jpeg, "snap.jpg", -1, "snap.jpg");
    add("a file where the folder would go", jpeg, "{D}/blocker/snap/a.jpg", -1,
        "{D}/blocker/snap/a.jpg");
    add("path is a folder", jpeg, "{D}/", -1, "{D}/");
}

void TestSnapshot::afterSnapshot()
{
    QFETCH(QString, image);
    QFETCH(QString, filePath);
    QFETCH(int, result);
    QFETCH(QString, writtenAs);
    QFETCH(QByteArray, content);
    QFETCH(QString, warning);
    const QString d = m_dir->path();
    filePath.replace("{D\\}", QString(d).replace('/', '\\')).replace("{D}", d);
    writtenAs.replace("{D}", d);
    warning.replace("{D}", d);
    const QStringList before = filesUnder(d);
    const QString folder = writtenAs.section('/', 0, -2);

    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    HostNotices host;
    LogCapture log;
    CWebComm bridge;
    QCOMPARE(bridge.AfterSnapshot(image, "ch-1", 1700000000, filePath), result);

    const QString secondLine = warning.isEmpty()
        ? "filePath: " + debugQuoted(writtenAs) + " path " + debugQuoted(folder)
        : warning;
    // A write that was tried and failed says so on a line of its own.
    const bool writeFailed = result != 0 && warning.isEmpty() && !folder.isEmpty();
    const QStringList got = log.lines();
    QCOMPARE(got.mid(0, 2), QStringList({ "filePath: " + debugQuoted(filePath), secondLine }));
    QCOMPARE(got.size(), writeFailed ? 3 : 2);
    if (writeFailed) {
        QVERIFY2(got[2].startsWith(
                     "tavi.webmodule: Failed to write the snapshot: " + debugQuoted(writtenAs)),
            qPrintable(got[2]));
    }
    if (result == 0) {
        QCOMPARE(host.texts, QStringList { snapshotNotice(writtenAs, "ch-1", 1700000000) });
        QCOMPARE(readFile(writtenAs), content);
    } else {
        QVERIFY(host.texts.isEmpty());
        QCOMPARE(filesUnder(d), before);
    }
}

void TestSnapshot::failedWriteKeepsTheExistingFile()
{
    const QByteArray big = QByteArray("snapshot pixels ").repeated(16 * 1024); // 256 KiB
    const QString image = "data:image/jpeg;base64," + QString::fromLatin1(big.toBase64());
    HostNotices host;
    LogCapture log;
    CWebComm bridge;
    // Writes beyond 64 KiB fail (and do not kill the process).
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous {};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 64 * 1024;
    const bool limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    const int result = bridge.AfterSnapshot(image, "ch-1", 5, path("existing.jpg"));
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(limited);
    QCOMPARE(result, -1);
    QVERIFY(host.texts.isEmpty());
    QCOMPARE(readFile(path("existing.jpg")), QByteArray("the older snapshot"));
    QCOMPARE(filesUnder(m_dir->path()), QStringList({ "blocker", "existing.jpg" }));
    QCOMPARE(log.lines().size(), 3);
    QVERIFY2(log.lines()[2].startsWith("tavi.webmodule: Failed to write the snapshot: "
                 + debugQuoted(path("existing.jpg"))),
        qPrintable(log.lines()[2]));
}

// A canvas snapshot from a real page; the host learns of it byte for byte.
void TestSnapshot::snapshotFromPage()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    HostNotices host;
    const QString target = path("snapshots/通道-7.png");

    const QVariant dataUrl = evalJs(pageOf(w),
        "(function () { var c = document.createElement('canvas'); c.width = 64; c.height = 48;"
        " var g = c.getContext('2d'); g.fillStyle = '#e63946'; g.fillRect(8, 8, 32, 24);"
        " return c.toDataURL('image/png'); })()");
    QVERIFY(dataUrl.toString().startsWith("data:image/png;base64,"));
    bool ok = false;
    const QVariant result
        = callBridge(pageOf(w), "AfterSnapshot", { dataUrl, "通道-7", -12, target }, &ok);
    QVERIFY(ok);
    QCOMPARE(result.toInt(), 0);
    const QByteArray png = readFile(target);
    QVERIFY(png.startsWith("\x89PNG\r\n"));
    QCOMPARE(png, QByteArray::fromBase64(dataUrl.toString().section(',', 1).toLatin1()));
    QCOMPARE(host.texts, QStringList { snapshotNotice(target, "通道-7", -12) });
}

// "{D}" is the scratch folder, which holds "rel" and the file "blocker".
void TestSnapshot::makePath_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("existsAfter"); // empty: nothing new is created

    QTest::newRow("missing ancestors created") << "{D}/a/b/c" << 0 << "{D}/a/b/c";
    QTest::newRow("already there") << "{D}" << 0 << "{D}";
    QTest::newRow("no parent part") << "plain" << -1 << "";
    QTest::newRow("a file in the way") << "{D}/blocker/x" << -1 << "";
    QTest::newRow("the path is a file") << "{D}/blocker" << -1 << "";
    QTest::newRow("relative, under an existing folder") << "rel/sub" << 0 << "{D}/rel/sub";
    QTest::newRow("non-ASCII and spaces")
        << "{D}/抓图 目录/子 目录" << 0 << "{D}/抓图 目录/子 目录";
}

void TestSnapshot::makePath()
{
    QFETCH(QString, given);
    QFETCH(int, result);
    QFETCH(QString, existsAfter);
    const QString d = m_dir->path();
    QVERIFY(QDir().mkpath(path("rel")));
    const QStringList before = QDir(d).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    QCOMPARE(MakePath(given.replace("{D}", d)), result);
    if (existsAfter.isEmpty())
        QCOMPARE(QDir(d).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    else
        QVERIFY(QFileInfo(existsAfter.replace("{D}", d)).isDir());
}

QTEST_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
