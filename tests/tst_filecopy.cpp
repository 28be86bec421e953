#include "TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// The host's "showTip" notice, byte for byte (for paths without quotes or
// backslashes).
QString tipText(const QString& path, const QString& suffix)
{
    return QStringLiteral("{\n    \"cmd\": \"showTip\",\n    \"data\": {\n        \"suffix\": "
                          "\"%1\",\n        \"text\": \"%2\",\n        \"type\": \"file\"\n    "
                          "}\n}\n")
        .arg(suffix, path);
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
// Expected notices are "text|suffix", each text a copy of the source; the
// log lines follow the command's own line.
void TestFileCopy::copyOrders_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<QStringList>("logLines");
    QTest::addColumn<QStringList>("absent");
    const auto add = [](const char* name, const QString& command, const QStringList& notices,
                         const QStringList& logLines, const QStringList& absent = {}) {
        QTest::newRow(name) << command << notices << logLines << absent;
    };

    const QString refuse
        = "tavi.webmodule: Refusing to copy a file onto itself: \"{D}/src.bin\" -> ";
    const QString noSource = "Source file does not exist:  ";
    const QString cannotOpen = "Failed to open files for copying.";
    const QString order = "{\"sourceFile\": \"{D}/src.bin\", \"targetFile\": \"%1\"}";
    const auto orders = [&](const QStringList& targets) {
        QStringList out;
        for (const QString& t : targets)
            out << order.arg(t);
        return "[" + out.join(", ") + "]";
    };

    add("not JSON", "[{\"sourceFile\": ", {}, { "Invalid JSON string" });
    add("an object, not an array", order.arg("{D}/out.bin"), {}, {}, { "out.bin" });
    add("mixed element types",
        "[1, \"{D}/src.bin\", null, " + orders({ "{D}/nested.bin" }) + ", "
            + order.arg("{D}/out.bin") + "]",
        { "{D}/out.bin|bin" }, {}, { "nested.bin" });
    add("missing or non-string source, next order still runs",
        "[{\"targetFile\": \"{D}/a.bin\"}, {\"sourceFile\": 7, \"targetFile\": \"{D}/a.bin\"}, "
            + order.arg("{D}/b.bin") + "]",
        { "{D}/b.bin|bin" }, { noSource + "\"\"", noSource + "\"\"" }, { "a.bin" });
    const QString cannotWrite = "tavi.webmodule: Cannot write the target: ";
    add("missing target member", "[{\"sourceFile\": \"{D}/src.bin\"}]", {},
        { cannotOpen, cannotWrite + "\"\" \"no target path\"" });
    add("source does not exist",
        "[{\"sourceFile\": \"{D}/nothing.bin\", \"targetFile\": \"{D}/a.bin\"}]", {},
        { noSource + "\"{D}/nothing.bin\"" }, { "a.bin" });
    add("source is a folder", "[{\"sourceFile\": \"{D}/folder\", \"targetFile\": \"{D}/a.bin\"}]",
        {}, { "tavi.webmodule: Not a regular file, not copied: \"{D}/folder\"" }, { "a.bin" });
    add("a file where the target's folder would go", orders({ "{D}/blocker/sub/a.bin" }), {},
        { cannotOpen, cannotWrite + "\"{D}/blocker/sub/a.bin\" \"Not a directory\"" },
        { "blocker/sub" });
    add("target is a folder", orders({ "{D}/folder" }), {},
        { cannotOpen, cannotWrite + "\"{D}/folder\" \"the target is a folder\"" });
    add("existing target replaced, not appended to", orders({ "{D}/existing.bin" }),
        { "{D}/existing.bin|bin" }, {});
    for (const QString self : { "src.bin", "folder/..//./src.bin", "link-to-src", "hard-to-src" })
        add(qPrintable("onto itself: " + self), orders({ "{D}/" + self }), {},
            { refuse + debugQuoted("{D}/" + self) });
    add("suffixes, new folders, notices in order",
        orders({ "{D}/a.jpeg", "ab", "{D}/new/deeper/clip.mp4" }),
        { "{D}/a.jpeg|peg", "ab|ab", "{D}/new/deeper/clip.mp4|mp4" }, {});
    add("suffix of characters beyond 16 bits", orders({ "{D}/clip.\U0001F600\U0001F600" }),
        { "{D}/clip.\U0001F600\U0001F600|.\U0001F600\U0001F600" }, {});
}

void TestFileCopy::copyOrders()
{
    QFETCH(QString, command);
    QFETCH(QStringList, notices);
    QFETCH(QStringList, logLines);
    QFETCH(QStringList, absent);

    command = fill(command);
    QStringList expectedNotices;
    for (const QString& n : notices)
        expectedNotices << tipText(fill(n.section('|', 0, 0)), n.section('|', 1));
    QStringList expectedLines { "CopyFileFunc command " + debugQuoted(command) };
    for (const QString& line : logLines) {
        expectedLines << fill(line);
        if (line == QLatin1String("Invalid JSON string"))
            QTest::ignoreMessage(QtWarningMsg, "Invalid JSON string");
    }

    HostNotices host;
    LogCapture log;
    CWebComm bridge;
    bridge.CopyFileFunc(command);

    QCOMPARE(log.lines(), expectedLines);
    QCOMPARE(host.texts, expectedNotices);
    QCOMPARE(readFile(path("src.bin")), m_source);
    for (const QString& n : notices)
        QCOMPARE(readFile(fill(n.section('|', 0, 0))), m_source);
    for (const QString& name : absent)
        QVERIFY2(!QFileInfo::exists(path(name)), qPrintable(name));
    if (!notices.contains("{D}/existing.bin|bin"))
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
    for (int i : { 1, 2 }) {
        const QString target = path(i == 1 ? "existing.bin" : "new/fresh.bin");
        QVERIFY2(lines[i].startsWith("tavi.webmodule: Failed to write the copy: " + debugQuoted(target)),
            qPrintable(lines[i]));
    }
    QCOMPARE(host.texts, QStringList { tipText(path("small.txt"), "txt") });
    QCOMPARE(readFile(path("existing.bin")), m_existing);
    QVERIFY(!QFileInfo::exists(path("new/fresh.bin")));
    QCOMPARE(readFile(path("small.txt")), readFile(path("blocker")));
    QCOMPARE(leftovers(m_dir->path()), QStringList());
}

// The page's call returns once the copy is on disk; non-ASCII and spaces.
void TestFileCopy::copyFromPage()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    HostNotices host;

    const QString target = path("导出 文件/录像 01 副本.mp4");
    bool ok = false;
    callBridge(pageOf(w), "CopyFileFunc",
        { fill("[{\"sourceFile\": \"{D}/录像 01.mp4\", \"targetFile\": \"" + target + "\"}]") },
        &ok);
    QVERIFY(ok);
    QCOMPARE(readFile(target), m_source);
    QCOMPARE(host.texts, QStringList { tipText(target, "mp4") });
}

QTEST_MAIN(TestFileCopy)
#include "tst_filecopy.moc"
