#include "TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

QString tipText(const QString& text, const QString& suffix)
{
    const QJsonObject tip { { "cmd", "showTip" },
        { "data", QJsonObject { { "text", text }, { "type", "file" }, { "suffix", suffix } } } };
    return QString::fromUtf8(QJsonDocument(tip).toJson(QJsonDocument::Indented));
}

// Temporary files of an unfinished copy, anywhere under dir.
QStringList leftovers(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, { ".tavi-*" }, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

// Limits the size of any file this process writes, while alive.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace

class TestFileCopy : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void copyOrders_data();
    void copyOrders();
    void shortWriteLeavesNoPartialCopy();
    void copyFromPage();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString fill(QString s) const { return s.replace("{D}", m_dir->path()); }

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_previousCurrent;
    QByteArray m_source;
    QByteArray m_existing;
};

void TestFileCopy::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    // Relative targets land in the scratch folder.
    m_previousCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));

    m_source = QByteArray("recording data \x01\x02\x00\xff ", 20).repeated(5000);
    m_existing = QByteArray("older and longer content ").repeated(8000);
    QVERIFY(m_existing.size() > m_source.size());
    QVERIFY(writeFile(path("src.bin"), m_source));
    QVERIFY(writeFile(path("录像 01.mp4"), m_source));
    QVERIFY(writeFile(path("existing.bin"), m_existing));
    QVERIFY(writeFile(path("blocker"), "a file where a folder would go"));
    QVERIFY(QDir().mkpath(path("folder")));
    QVERIFY(QFile::link(path("src.bin"), path("link-to-src")));
    QCOMPARE(::link(QFile::encodeName(path("src.bin")).constData(),
                 QFile::encodeName(path("hard-to-src")).constData()),
        0);
}

void TestFileCopy::cleanup()
{
    QDir::setCurrent(m_previousCurrent);
}

// "{D}" stands for the scratch folder, which is also the current folder.
// Expected notices are "text|suffix"; copies must hold the source's bytes.
void TestFileCopy::copyOrders_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<QStringList>("logLines");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QStringList>("copies");
    QTest::addColumn<QStringList>("absent");

    const QString refuse = "Refusing to copy a file onto itself: \"{D}/src.bin\" -> ";
    const QString noSource = "Source file does not exist:  ";
    const QString cannotOpen = "Failed to open files for copying.";
    const QString order = "{\"sourceFile\": \"{D}/src.bin\", \"targetFile\": \"%1\"}";

    QTest::newRow("not JSON") << "[{\"sourceFile\": " << QStringList() << QStringList()
                              << "Invalid JSON string" << QStringList() << QStringList();
    QTest::newRow("empty text") << "" << QStringList() << QStringList() << "Invalid JSON string"
                                << QStringList() << QStringList();
    QTest::newRow("an object, not an array")
        << order.arg("{D}/out.bin") << QStringList() << QStringList() << "" << QStringList()
        << QStringList { "out.bin" };
    QTest::newRow("empty array") << "[]" << QStringList() << QStringList() << "" << QStringList()
                                 << QStringList();
    QTest::newRow("mixed element types")
        << "[1, \"{D}/src.bin\", null, [" + order.arg("{D}/nested.bin") + "], "
            + order.arg("{D}/out.bin") + "]"
        << QStringList { "{D}/out.bin|bin" } << QStringList() << "" << QStringList { "out.bin" }
        << QStringList { "nested.bin" };
    QTest::newRow("missing source member, next order still runs")
        << "[{\"targetFile\": \"{D}/a.bin\"}, " + order.arg("{D}/b.bin") + "]"
        << QStringList { "{D}/b.bin|bin" } << QStringList { noSource + "\"\"" } << ""
        << QStringList { "b.bin" } << QStringList { "a.bin" };
    QTest::newRow("members that are not strings")
        << "[{\"sourceFile\": 7, \"targetFile\": \"{D}/a.bin\"}]" << QStringList()
        << QStringList { noSource + "\"\"" } << "" << QStringList() << QStringList { "a.bin" };
    QTest::newRow("missing target member")
        << "[{\"sourceFile\": \"{D}/src.bin\"}]" << QStringList() << QStringList { cannotOpen }
        << "" << QStringList() << QStringList();
    QTest::newRow("source does not exist")
        << "[{\"sourceFile\": \"{D}/nothing.bin\", \"targetFile\": \"{D}/a.bin\"}]" << QStringList()
        << QStringList { noSource + "\"{D}/nothing.bin\"" } << "" << QStringList()
        << QStringList { "a.bin" };
    QTest::newRow("source is a folder")
        << "[{\"sourceFile\": \"{D}/folder\", \"targetFile\": \"{D}/a.bin\"}]" << QStringList()
        << QStringList { cannotOpen } << "" << QStringList() << QStringList { "a.bin" };
    QTest::newRow("a file where the target's folder would go")
        << "[" + order.arg("{D}/blocker/sub/a.bin") + "]" << QStringList()
        << QStringList { cannotOpen } << "" << QStringList() << QStringList { "blocker/sub" };
    QTest::newRow("target is a folder")
        << "[" + order.arg("{D}/folder") + "]" << QStringList() << QStringList { cannotOpen } << ""
        << QStringList() << QStringList();
    QTest::newRow("missing folders are created")
        << "[" + order.arg("{D}/new/deeper/clip.mp4") + "]"
        << QStringList { "{D}/new/deeper/clip.mp4|mp4" } << QStringList() << ""
        << QStringList { "new/deeper/clip.mp4" } << QStringList();
    QTest::newRow("existing target replaced, not appended to")
        << "[" + order.arg("{D}/existing.bin") + "]" << QStringList { "{D}/existing.bin|bin" }
        << QStringList() << "" << QStringList { "existing.bin" } << QStringList();
    QTest::newRow("onto itself: same path")
        << "[" + order.arg("{D}/src.bin") + "]" << QStringList()
        << QStringList { refuse + "\"{D}/src.bin\"" } << "" << QStringList() << QStringList();
    QTest::newRow("onto itself: another spelling")
        << "[" + order.arg("{D}/folder/..//./src.bin") + "]" << QStringList()
        << QStringList { refuse + "\"{D}/folder/..//./src.bin\"" } << "" << QStringList()
        << QStringList();
    QTest::newRow("onto itself: symbolic link")
        << "[" + order.arg("{D}/link-to-src") + "]" << QStringList()
        << QStringList { refuse + "\"{D}/link-to-src\"" } << "" << QStringList() << QStringList();
    QTest::newRow("onto itself: hard link")
        << "[" + order.arg("{D}/hard-to-src") + "]" << QStringList()
        << QStringList { refuse + "\"{D}/hard-to-src\"" } << "" << QStringList() << QStringList();
    QTest::newRow("non-ASCII and spaces")
        << "[{\"sourceFile\": \"{D}/录像 01.mp4\", \"targetFile\": \"{D}/导出 文件/录像 01 "
           "副本.mp4\"}]"
        << QStringList { "{D}/导出 文件/录像 01 副本.mp4|mp4" } << QStringList() << ""
        << QStringList { "导出 文件/录像 01 副本.mp4" } << QStringList();
    QTest::newRow("suffix: a.jpeg and a two-character path")
        << "[" + order.arg("{D}/a.jpeg") + ", " + order.arg("ab") + "]"
        << QStringList { "{D}/a.jpeg|peg", "ab|ab" } << QStringList() << ""
        << QStringList { "a.jpeg", "ab" } << QStringList();
    QTest::newRow("two orders, two notices in order")
        << "[" + order.arg("{D}/x/clip.mp4") + ", " + order.arg("{D}/y/pic.jpg") + "]"
        << QStringList { "{D}/x/clip.mp4|mp4", "{D}/y/pic.jpg|jpg" } << QStringList() << ""
        << QStringList { "x/clip.mp4", "y/pic.jpg" } << QStringList();
}

void TestFileCopy::copyOrders()
{
    QFETCH(QString, command);
    QFETCH(QStringList, notices);
    QFETCH(QStringList, logLines);
    QFETCH(QString, warning);
    QFETCH(QStringList, copies);
    QFETCH(QStringList, absent);

    command = fill(command);
    QStringList expectedNotices;
    for (const QString& n : notices)
        expectedNotices << tipText(fill(n.section('|', 0, 0)), n.section('|', 1));
    QStringList expectedLines { "CopyFileFunc command " + debugQuoted(command) };
    for (const QString& line : logLines)
        expectedLines << fill(line);
    if (!warning.isEmpty()) {
        expectedLines << warning;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    }

    HostNotices host;
    LogCapture log;
    CWebComm bridge;
    bridge.CopyFileFunc(command);

    QCOMPARE(log.lines(), expectedLines);
    QCOMPARE(host.texts, expectedNotices);
    QCOMPARE(readFile(path("src.bin")), m_source);
    for (const QString& name : copies)
        QCOMPARE(readFile(fill(name).startsWith('/') ? fill(name) : path(name)), m_source);
    for (const QString& name : absent)
        QVERIFY2(!QFileInfo::exists(path(name)), qPrintable(name));
    if (!copies.contains("existing.bin"))
        QCOMPARE(readFile(path("existing.bin")), m_existing);
    QCOMPARE(leftovers(m_dir->path()), QStringList());
}

// A write cut short by the file size limit fails the order: no notice, no
// partial file, an existing target intact, and the next order still runs.
void TestFileCopy::shortWriteLeavesNoPartialCopy()
{
    const QByteArray big = QByteArray("0123456789abcdef").repeated(64 * 1024); // 1 MiB
    QVERIFY(writeFile(path("big.bin"), big));
    const QString command
        = fill("[{\"sourceFile\": \"{D}/big.bin\", \"targetFile\": \"{D}/existing.bin\"},"
               " {\"sourceFile\": \"{D}/big.bin\", \"targetFile\": \"{D}/new/fresh.bin\"},"
               " {\"sourceFile\": \"{D}/blocker\", \"targetFile\": \"{D}/small.txt\"}]");

    HostNotices host;
    LogCapture log;
    CWebComm bridge;
    {
        FileSizeLimit limit(256 * 1024);
        QVERIFY(limit.ok());
        bridge.CopyFileFunc(command);
    }

    const QStringList lines = log.lines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(1).startsWith("Failed to write the copy: " + debugQuoted(path("existing.bin"))),
        qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).startsWith("Failed to write the copy: " + debugQuoted(path("new/fresh.bin"))),
        qPrintable(lines.at(2)));
    QCOMPARE(host.texts, QStringList { tipText(path("small.txt"), "txt") });
    QCOMPARE(readFile(path("existing.bin")), m_existing);
    QVERIFY(!QFileInfo::exists(path("new/fresh.bin")));
    QCOMPARE(readFile(path("small.txt")), readFile(path("blocker")));
    QCOMPARE(leftovers(m_dir->path()), QStringList());
}

// The page's call returns once the copy is on disk.
void TestFileCopy::copyFromPage()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    HostNotices host;

    const QString target = path("export/clip 1.mp4");
    const QJsonArray orders { QJsonObject {
        { "sourceFile", path("src.bin") }, { "targetFile", target } } };
    bool ok = false;
    callBridge(pageOf(w), "CopyFileFunc",
        { QString::fromUtf8(QJsonDocument(orders).toJson(QJsonDocument::Compact)) }, &ok);
    QVERIFY(ok);
    QCOMPARE(readFile(target), m_source);
    // The notice, byte for byte as the host receives it.
    QCOMPARE(host.texts,
        QStringList { QStringLiteral("{\n"
                                     "    \"cmd\": \"showTip\",\n"
                                     "    \"data\": {\n"
                                     "        \"suffix\": \"mp4\",\n"
                                     "        \"text\": \"%1\",\n"
                                     "        \"type\": \"file\"\n"
                                     "    }\n"
                                     "}\n")
                          .arg(target) });
}

QTEST_MAIN(TestFileCopy)
#include "tst_filecopy.moc"
