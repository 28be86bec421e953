// The file methods of the bridge: CopyFileFunc, AfterSnapshot, MakePath, the
// browse dialogs and DelFileFunc. A failed write leaves no partial file and
// keeps the source and an existing target intact.

#include "TestSupport.h"

#include <QtCore/QScopeGuard>
#include <QtWidgets/QFileDialog>
#include <WebAccessPolicy.h>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Cuts the file at path to nothing as soon as something in its folder is
// first read, while alive: the folder's change notice comes as a signal to
// this thread, so the cut lands between the copy's first read and the next.
class CutAtFirstRead
{
public:
    explicit CutAtFirstRead(const QString& path)
        : m_folder(::open(QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY))
    {
        s_file = ::open(QFile::encodeName(path).constData(), O_WRONLY);
        struct sigaction cut = {};
        cut.sa_handler = [](int) {
            if (::ftruncate(s_file, 0) != 0)
                ::_exit(3); // the test could no longer tell anything
        };
        cut.sa_flags = SA_RESTART;
        const f_owner_ex self { F_OWNER_TID, ::gettid() };
        m_ok = s_file >= 0 && ::sigaction(SIGRTMIN + 3, &cut, &m_previous) == 0
            && ::fcntl(m_folder, F_SETSIG, SIGRTMIN + 3) == 0
            && ::fcntl(m_folder, F_NOTIFY, DN_ACCESS) == 0
            && ::fcntl(m_folder, F_SETOWN_EX, &self) == 0;
    }
    ~CutAtFirstRead()
    {
        ::close(m_folder);
        ::sigaction(SIGRTMIN + 3, &m_previous, nullptr);
        ::close(s_file);
    }
    bool ok() const { return m_ok; }

private:
    static inline int s_file = -1;
    int m_folder;
    struct sigaction m_previous = {};
    bool m_ok = false;
};

// Holds a write lease on a file, while alive or until release(): whoever
// opens the file waits in open() meanwhile (up to the kernel's lease-break
// time), and opened() tells that someone does.
class OpenGate
{
public:
    explicit OpenGate(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY))
    {
        std::signal(SIGRTMIN + 4, SIG_IGN); // the one a lease break sends
        m_ok = m_fd >= 0 && ::fcntl(m_fd, F_SETSIG, SIGRTMIN + 4) == 0
            && ::fcntl(m_fd, F_SETLEASE, F_WRLCK) == 0;
    }
    ~OpenGate() { release(); }
    bool ok() const { return m_ok; }
    bool opened() const { return m_fd >= 0 && ::fcntl(m_fd, F_GETLEASE) != F_WRLCK; }
    void release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    bool m_ok = false;
};

// Runs act once, from a timer (a bridge call's nested loop serves it), as
// soon as ready() holds.
void whenReady(QObject* owner, std::function<bool()> ready, std::function<void()> act)
{
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ready, act] {
        if (!ready())
            return;
        timer->stop();
        act();
    });
    timer->start(5);
}

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

class TestFiles : public QObject
{
    Q_OBJECT
    BridgePage m_bridge;
    std::optional<ScratchDir> m_dir;
    QByteArray m_source = QByteArray("recording data \x01\x02\x00\xff ", 20).repeated(5000);
    QByteArray m_existing = QByteArray("older and longer content ").repeated(8000);
    mode_t m_umask = 0;
    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    // New files get a known umask, so that their modes can be told.
    void initTestCase()
    {
        m_umask = ::umask(022);
        QVERIFY(m_bridge.load());
    }
    void cleanupTestCase() { ::umask(m_umask); }
    void cleanup() { WebAccessPolicy::global().setFileRoots({}, {}); }

    // "{D}" in a row stands for this scratch folder, also the current folder.
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        for (const char* name : { "src.bin", "录像 01.mp4" })
            QVERIFY(writeFile(path(name), m_source));
        QVERIFY(writeFile(path("existing.bin"), m_existing));
        QVERIFY(writeFile(path("existing.jpg"), "the older snapshot"));
        QVERIFY(writeFile(path("blocker"), "a file where a folder would go"));
        QVERIFY(QDir().mkpath(path("folder")));
        QVERIFY(QFile::link(path("src.bin"), path("link-to-src")));
    }

    // Expected notices are "text|suffix", each text a copy of the source; the
    // log lines follow the command's own line.
    void copyOrders_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("notices");
        QTest::addColumn<QStringList>("logLines");
        QTest::addColumn<QStringList>("absent");
        const auto add = [](const char* name, const QString& command, const QStringList& notices,
                            const QStringList& logLines, const QStringList& absent = {}) {
            QTest::newRow(name) << command << notices << logLines << absent;
        };
        const QString noSource = "Source file does not exist:  ";
        const QString noPath = "tavi.webmodule: Refused CopyFileFunc: an empty path";
        const QString cannotOpen = "Failed to open files for copying.";
        const QString cannotWrite = "tavi.webmodule: Cannot write the target: ";
        const QString order = "{\"sourceFile\": \"{D}/src.bin\", \"targetFile\": \"%1\"}";
        const auto orders = [&](const QStringList& targets) {
            QStringList out;
            for (const QString& t : targets)
                out << order.arg(t);
            return "[" + out.join(", ") + "]";
        };
        add("mixed element types",
            "[1, \"x\", null, [" + order.arg("{D}/nested.bin") + "], " + order.arg("{D}/out.bin")
                + "]",
            { "{D}/out.bin|bin" }, {}, { "nested.bin" });
        // A refused order keeps the line of a copy that failed, after the refusal.
        add("missing or non-string source, next order still runs",
            "[{\"targetFile\": \"{D}/a.bin\"}, {\"sourceFile\": 7, \"targetFile\": \"{D}/a.bin\"}, "
                + order.arg("{D}/b.bin") + "]",
            { "{D}/b.bin|bin" }, { noPath, noSource + "\"\"", noPath, noSource + "\"\"" },
            { "a.bin" });
        add("missing target member", "[{\"sourceFile\": \"{D}/src.bin\"}]", {},
            { noPath, cannotOpen });
        add("empty target, source missing",
            "[{\"sourceFile\": \"{D}/none\", \"targetFile\": \"\"}]", {},
            { noPath, noSource + "\"{D}/none\"" });
        // Any refused path takes the empty one's way (each refusal's line:
        // tst_accesspolicy::onePathRule).
        add("source with a NUL",
            "[{\"sourceFile\": \"{D}/src.bin\\u0000x\", \"targetFile\": \"{D}/a.bin\"}]", {},
            { "tavi.webmodule: Refused CopyFileFunc: a NUL character in the path: "
              "{D}/src.bin\\x00x",
              noSource + "\"{D}/src.bin\\u0000x\"" },
            { "a.bin" });
        const QString tooLong = QString(300, 'x');
        const QString limits
            = "tavi.webmodule: CopyFileProcess: path beyond the system's limits refused: the ";
        add("source name beyond the system's limits",
            "[{\"sourceFile\": \"{D}/" + tooLong + "\", \"targetFile\": \"{D}/a.bin\"}]", {},
            { noSource + "\"{D}/" + tooLong + "\"", limits + "source" }, { "a.bin" });
        add("target name beyond the system's limits", orders({ "{D}/" + tooLong }), {},
            { cannotOpen, limits + "target" });
        add("source does not exist",
            "[{\"sourceFile\": \"{D}/none\", \"targetFile\": \"{D}/a.bin\"}]", {},
            { noSource + "\"{D}/none\"" }, { "a.bin" });
        // A folder as the source takes the FIFO's branch (copyOutcomes has one).
        add("source is a FIFO", "[{\"sourceFile\": \"{D}/fifo\", \"targetFile\": \"{D}/a.bin\"}]",
            {}, { cannotOpen, "tavi.webmodule: Not a regular file, not copied: \"{D}/fifo\"" },
            { "a.bin" });
        add("a file where the target's folder would go", orders({ "{D}/blocker/sub/a.bin" }), {},
            { cannotOpen, cannotWrite + "\"{D}/blocker/sub/a.bin\" \"Not a directory\"" },
            { "blocker/sub" });
        add("target is a folder", orders({ "{D}/folder" }), {},
            { cannotOpen, cannotWrite + "\"{D}/folder\" \"the target is a folder\"" });
        const QString self = "tavi.webmodule: Refusing to copy a file onto itself: \"{D}/src.bin\" "
                             "-> \"{D}/%1\"";
        for (const QString name : { "src.bin", "folder/..//./src.bin", "link-to-src" })
            add(qPrintable("onto itself: " + name), orders({ "{D}/" + name }), {},
                { self.arg(name) });
        // A row whose name holds "hard link" gets {D}/hard-to-src, a second
        // name of src.bin: every read of it says so.
        const QString twoNames = "tavi.webmodule: Reading a file that has 2 names (hard links); "
                                 "the others may lie outside the file roots: \"{D}/src.bin\"";
        add("onto itself: a hard link", orders({ "{D}/hard-to-src" }), {},
            { twoNames, self.arg("hard-to-src") });
        add("a hard link as source, copied",
            "[{\"sourceFile\": \"{D}/hard-to-src\", \"targetFile\": \"{D}/out.bin\"}]",
            { "{D}/out.bin|bin" }, { QString(twoNames).replace("src.bin", "hard-to-src") });
        add("suffixes, new folders, notices in order",
            orders({ "{D}/a.jpeg", "ab", "{D}/new/deeper/clip.mp4" }),
            { "{D}/a.jpeg|peg", "ab|ab", "{D}/new/deeper/clip.mp4|mp4" }, {});
        add("suffix of characters beyond 16 bits", orders({ "{D}/clip.\U0001F600\U0001F600" }),
            { "{D}/clip.\U0001F600\U0001F600|.\U0001F600\U0001F600" }, {});
    }

    void copyOrders()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, notices);
        QFETCH(QStringList, logLines);
        QFETCH(QStringList, absent);
        // A source that would never end if it were read.
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")), 0600), 0);
        command = m_dir->fill(command);
        QStringList expectedNotices,
            expectedLines { "CopyFileFunc command " + debugQuoted(command) };
        for (const QString& n : notices)
            expectedNotices << tipText(m_dir->fill(n.section('|', 0, 0)), n.section('|', 1));
        for (const QString& line : logLines)
            expectedLines << m_dir->fill(line);
        if (QString(QTest::currentDataTag()).contains("hard link"))
            QCOMPARE(
                ::link(QFile::encodeName(path("src.bin")), QFile::encodeName(path("hard-to-src"))),
                0);
        HostRecorder host;
        LogCapture log;
        CWebComm().CopyFileFunc(command);

        QCOMPARE(log.lines(), expectedLines);
        QCOMPARE(host.notices(), expectedNotices);
        QCOMPARE(readFile(path("src.bin")), m_source);
        for (const QString& n : notices)
            QCOMPARE(readFile(m_dir->fill(n.section('|', 0, 0))), m_source);
        for (const QString& name : absent)
            QVERIFY2(!QFileInfo::exists(path(name)), qPrintable(name));
        QCOMPARE(readFile(path("existing.bin")), m_existing);
        QCOMPARE(filesUnder(m_dir->path()).filter(".tavi-"), QStringList());
    }

    // The host's tip names the file as written, the page's backslashes
    // mended, never a path that is not on the disk; its suffix is that
    // path's last three characters.
    void tipNamesTheWrittenFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("backslashes throughout") << "{D\\}\\out\\clip.mp4"
                                                << "{D}/out/clip.mp4"
                                                << "mp4";
        QTest::newRow("a backslash among the last three") << "{D}/out\\ab"
                                                          << "{D}/out/ab"
                                                          << "/ab";
    }

    void tipNamesTheWrittenFile()
    {
        QFETCH(QString, target);
        QFETCH(QString, written);
        QFETCH(QString, suffix);
        // The source read as judged too: with backslashes, as a page may name it.
        const QJsonObject order { { "sourceFile", m_dir->fill("{D\\}\\src.bin") },
                                  { "targetFile", m_dir->fill(target) } };
        HostRecorder host;
        CWebComm().CopyFileFunc(QString::fromUtf8(QJsonDocument(QJsonArray { order }).toJson()));
        QCOMPARE(host.notices(), QStringList { tipText(m_dir->fill(written), suffix) });
        QCOMPARE(readFile(m_dir->fill(written)), m_source);
    }

    // A host without logging rules sees the lines it reads word for word
    // and the module's refusals, not the module's own progress and detail.
    void hostSeesInfoAndAbove_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("readRoot"); // empty: no file roots
        QTest::addColumn<QStringList>("lines"); // after the command's own line
        const QString cannotOpen = "Failed to open files for copying.";
        QTest::newRow("a folder") << "{D}/folder"
                                  << "" << QStringList { cannotOpen };
        QTest::newRow("onto itself: nothing but the command") << "{D}/existing.bin"
                                                              << "" << QStringList {};
        const QString outside = "tavi.webmodule: Refused CopyFileFunc: reading outside the file "
                                "roots: ";
        // A refusal and "Failed to open files for copying." the host sees:
        // the rows before and after.
        QTest::newRow("outside the file roots, no such file")
            << "{D}/none"
            << "{D}/folder"
            << QStringList { outside + "{D}/none", "Source file does not exist:  \"{D}/none\"" };
    }

    void hostSeesInfoAndAbove()
    {
        QFETCH(QString, source);
        QFETCH(QString, readRoot);
        QFETCH(QStringList, lines);
        const QString command
            = m_dir->fill(QString("[{\"sourceFile\": \"%1\", \"targetFile\": \"%2\"}]")
                              .arg(source, source == "{D}/existing.bin" ? source : "{D}/a.bin"));
        QStringList expected { "CopyFileFunc command " + debugQuoted(command) };
        for (const QString& line : lines)
            expected << m_dir->fill(line);
        if (!readRoot.isEmpty())
            WebAccessPolicy::global().setFileRoots({ m_dir->fill(readRoot) }, {});
        LogCapture log(LogCapture::AsHostSees);
        CWebComm().CopyFileFunc(command);
        QCOMPARE(log.lines(), expected);
    }

    // The page that copies learns each order's outcome, in order, and why
    // one was refused or failed; the host's notices stay as they were. Rows
    // give "index|outcome|why"; file roots, when given, are "{D}/in" to read
    // and "{D}/out" to write.
    void copyOutcomes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("roots");
        QTest::addColumn<QStringList>("outcomes");
        const QString order = "{\"sourceFile\": \"%1\", \"targetFile\": \"%2\"}";
        const QString notArray = "-1|refused|the command is not a JSON array of orders";
        QTest::newRow("not JSON") << "[{\"sourceFile\": " << false << QStringList { notArray };
        QTest::newRow("an object")
            << order.arg("{D}/src.bin", "{D}/a.bin") << false << QStringList { notArray };
        QTest::newRow("an empty array") << " [ ]" << false << QStringList();
        QTest::newRow("written, not an order, failures")
            << "[" + order.arg("{D}/src.bin", "{D}/a.bin") + ", 7, "
                + order.arg("{D}/none", "{D}/b.bin") + ", " + order.arg("{D}/folder", "{D}/c.bin")
                + ", " + order.arg("{D}/src.bin", "{D}/folder") + "]"
            << false
            << QStringList { "0|written|", "1|refused|not an order {sourceFile, targetFile}",
                             "2|failed|no such source file",
                             "3|failed|the source is not a regular file",
                             "4|failed|the copy could not be written" };
        QTest::newRow("outside the file roots")
            << "[" + order.arg("{D}/src.bin", "{D}/out/a.bin") + ", "
                + order.arg("{D}/in/src.bin", "{D}/a.bin") + ", "
                + order.arg("{D}/in/src.bin", "{D}/out/a.bin") + "]"
            << true
            << QStringList { "0|refused|the source is outside the host's file roots",
                             "1|refused|the target is outside the host's file roots",
                             "2|written|" };
    }

    void copyOutcomes()
    {
        QFETCH(QString, command);
        QFETCH(bool, roots);
        QFETCH(QStringList, outcomes);
        command = m_dir->fill(command);
        if (roots) {
            QVERIFY(QDir().mkpath(path("in")) && QDir().mkpath(path("out")));
            QVERIFY(writeFile(path("in/src.bin"), m_source));
            WebAccessPolicy::global().setFileRoots({ path("in") }, { path("out") });
        }
        if (command.endsWith(": "))
            QTest::ignoreMessage(QtWarningMsg, "Invalid JSON string");
        const QJsonArray orders = QJsonDocument::fromJson(command.toUtf8()).array();
        CWebComm bridge;
        QSignalSpy told(&bridge, &CWebComm::emitCopyResult);
        {
            HostRecorder host;
            bridge.CopyFileFunc(command);
        }
        QStringList got;
        for (const QList<QVariant>& signal : std::as_const(told)) {
            const QJsonObject result
                = QJsonDocument::fromJson(signal[0].toString().toUtf8()).object();
            const int index = result["index"].toInt();
            const QJsonObject order = orders.at(index).toObject();
            QCOMPARE(result["sourceFile"].toString(), order["sourceFile"].toString());
            QCOMPARE(result["targetFile"].toString(), order["targetFile"].toString());
            got << QStringLiteral("%1|%2|%3")
                       .arg(QString::number(index), result["outcome"].toString(),
                            result["why"].toString());
        }
        QCOMPARE(got, outcomes);
    }

    // After each chunk (interval 0) every order tells its progress, at the
    // latest once all its bytes are written, before its outcome (which waits
    // for the sync), an empty file too. (By default it comes by time only.)
    void copyProgress_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("a small file") << m_source;
        QTest::newRow("an empty file") << QByteArray();
    }
    void copyProgress()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(path("in.bin"), content));
        m_bridge.widgets.setCopyProgressInterval(0);
        const auto reset = qScopeGuard([this] { m_bridge.widgets.setCopyProgressInterval(-1); });
        auto* bridge = m_bridge.widgets.findChild<CWebComm*>();
        QStringList got;
        QObject context;
        for (auto signal : { &CWebComm::emitCopyProgress, &CWebComm::emitCopyResult })
            connect(bridge, signal, &context, [&got](const QString& text) {
                const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
                got << (o.contains("done") ? QString("%1/%2")
                                                 .arg(o["done"].toInteger())
                                                 .arg(o["total"].toInteger())
                                           : o["outcome"].toString());
            });
        HostRecorder host;
        bridge->CopyFileFunc(
            m_dir->fill(R"([{"sourceFile": "{D}/in.bin", "targetFile": "{D}/copy.bin"}])"));
        QCOMPARE(got, QStringList({ QString("%1/%1").arg(content.size()), "written" }));
        QCOMPARE(m_bridge.widgets.copyProgressInterval(), 0);
    }

    // A new copy takes the source's permissions less the umask, as cp gives
    // them; an existing target keeps its own.
    void copyModes_data()
    {
        QTest::addColumn<int>("sourceMode");
        QTest::addColumn<int>("targetMode"); // 0: no target yet
        QTest::addColumn<int>("expected");
        QTest::newRow("private source") << 0600 << 0 << 0600;
        QTest::newRow("executable source") << 0755 << 0 << 0755;
        QTest::newRow("the umask applies") << 0666 << 0 << 0644;
        QTest::newRow("existing target keeps its mode") << 0600 << 0664 << 0664;
    }

    void copyModes()
    {
        QFETCH(int, sourceMode);
        QFETCH(int, targetMode);
        QFETCH(int, expected);
        const QString target = path(targetMode ? "existing.bin" : "new.bin");
        QCOMPARE(::chmod(QFile::encodeName(path("src.bin")), sourceMode), 0);
        QVERIFY(!targetMode || ::chmod(QFile::encodeName(target), targetMode) == 0);
        QVERIFY(CWebComm().CopyFileProcess(path("src.bin"), target));
        QCOMPARE(readFile(target), m_source);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(target), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(expected));
    }

    // Writes cut short by the file size limit fail: no notice, no partial
    // file, an existing file intact, and the next order still runs.
    void failedWritesLeaveNothing()
    {
        const QByteArray big = QByteArray("0123456789abcdef").repeated(64 * 1024); // 1 MiB
        QVERIFY(writeFile(path("big.bin"), big));
        const QString image = "data:image/jpeg;base64," + QString::fromLatin1(big.toBase64());
        const QString command = m_dir->fill(
            "[{\"sourceFile\": \"{D}/big.bin\", \"targetFile\": \"{D}/existing.bin\"},"
            " {\"sourceFile\": \"{D}/big.bin\", \"targetFile\": \"{D}/new/fresh.bin\"},"
            " {\"sourceFile\": \"{D}/blocker\", \"targetFile\": \"{D}/small.txt\"}]");
        HostRecorder host;
        LogCapture log;
        {
            FileSizeLimit limit(256 * 1024);
            QVERIFY(limit.ok());
            CWebComm().CopyFileFunc(command);
            QCOMPARE(CWebComm().AfterSnapshot(image, "ch-1", 5, path("existing.jpg")), -1);
        }
        const QStringList lines = log.lines();
        const QString copyFailed = "tavi.webmodule: Failed to write the copy: ";
        QCOMPARE(lines.size(), 6);
        QVERIFY2(lines[1].startsWith(copyFailed + debugQuoted(path("existing.bin"))),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(copyFailed + debugQuoted(path("new/fresh.bin"))),
                 qPrintable(lines[2]));
        QVERIFY2(lines[5].startsWith("tavi.webmodule: Failed to write the snapshot: "
                                     + debugQuoted(path("existing.jpg"))),
                 qPrintable(lines[5]));
        QCOMPARE(host.notices(), QStringList { tipText(path("small.txt"), "txt") });
        QCOMPARE(readFile(path("existing.bin")), m_existing);
        QCOMPARE(readFile(path("existing.jpg")), QByteArray("the older snapshot"));
        QCOMPARE(readFile(path("small.txt")), readFile(path("blocker")));
        QVERIFY(!QFileInfo::exists(path("new/fresh.bin")));
        QCOMPARE(filesUnder(m_dir->path()).filter(".tavi-"), QStringList());
    }

    // A source that ends before the size it had when the copy began (cut
    // after the copy's first read, which is smaller than this file) is a
    // failed copy: nothing is written.
    void sourceEndingEarlyIsAFailure()
    {
        const QString cut = path("cut/source.bin");
        QVERIFY(writeFile(cut, QByteArray(1024 * 1024, 'x'))
                && QFile::resize(cut, 65 * 1024 * 1024));
        {
            CutAtFirstRead cutter(cut);
            QVERIFY(cutter.ok());
            QVERIFY(!CWebComm().CopyFileProcess(cut, path("copy.bin")));
        }
        QCOMPARE(QFileInfo(cut).size(), 0);
        QVERIFY(!QFileInfo::exists(path("copy.bin")));
        QCOMPARE(filesUnder(m_dir->path()).filter(".tavi-"), QStringList());
    }

    // Only a regular file or nothing may stand where a copy or a snapshot
    // goes: a pipe (as a device or a socket: one check of the file's type)
    // stays as it is, and nobody is told of a file.
    void specialTargetsAreRefused_data()
    {
        QTest::addColumn<bool>("snapshot");
        QTest::newRow("copy") << false;
        QTest::newRow("snapshot") << true;
    }
    void specialTargetsAreRefused()
    {
        QFETCH(bool, snapshot);
        const QString node = path("node");
        const QByteArray name = QFile::encodeName(node);
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        HostRecorder host;
        LogCapture log;
        if (snapshot)
            QCOMPARE(CWebComm().AfterSnapshot("data:;base64,QUJD", "ch", 1, node), -1);
        else
            QVERIFY(!CWebComm().CopyFileProcess(path("src.bin"), node));
        struct stat st = {};
        QCOMPARE(::lstat(name.constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
        QVERIFY(host.notices().isEmpty());
        QVERIFY(log.lines().last().contains("the target is not a regular file"));
        QCOMPARE(filesUnder(m_dir->path()).filter(".tavi-"), QStringList());
    }

    // A warning replaces the second log line; on failure nothing is written
    // and no notice sent. A failure past the folder check, and a refused
    // path, say why on a line of their own ("why", its beginning).
    void afterSnapshot_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("filePath");
        QTest::addColumn<QString>("writtenAs"); // as stored and reported; empty: a failure
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("why");
        const auto add = [](const char* name, const QString& image, const QString& filePath,
                            const QString& writtenAs, const QByteArray& content = {},
                            const QString& warning = {}, const QString& why = {}) {
            QTest::newRow(name) << image << filePath << writtenAs << content << warning << why;
        };
        const auto fails = [&add](const char* name, const QString& image, const QString& filePath,
                                  const QString& why = {}) {
            add(name, image, filePath, "", {}, {}, why.isEmpty() ? why : "tavi.webmodule: " + why);
        };
        const QString jpeg = "data:image/jpeg;base64," + QString::fromLatin1(kJpeg.toBase64());
        const QString noMarker
            = "[AfterSnapshot] base64 缺少 'base64,' 前缀, 数据格式错误 (filePath= \"%1\" )";
        add("JPEG data URL, backslash path", jpeg, "{D\\}\\snap\\a.jpg", "{D}/snap/a.jpg", kJpeg);
        add("existing file replaced", jpeg, "{D}/existing.jpg", "{D}/existing.jpg", kJpeg);
        add("marker twice: cut after the first", "data:x;base64,QUJD;base64,RA==", "{D}/a.jpg",
            "{D}/a.jpg", QByteArray::fromBase64("QUJDbase64RA=="));
        fails("marker at the end: no image", "data:image/png;base64,", "{D}/e.png",
              "AfterSnapshot: no image data after the marker");
        add("characters outside the alphabet are skipped",
            "data:;base64,QU J\nD*R\tA==", "{D}/a.jpg", "{D}/a.jpg", "ABCD");
        add("a NUL ends the payload", QString("data:;base64,QUJD") + QChar(0) + "RA==", "{D}/a.jpg",
            "{D}/a.jpg", "ABC");
        add("no marker", "data:image/png,QUJD", "{D}/a.jpg", "", {}, noMarker.arg("{D}/a.jpg"));
        add("empty path, no marker", "data:image/png,QUJD", "", "", {}, noMarker.arg(""));
        fails("bare file name", jpeg, "snap.jpg");
        fails("a file where the folder would go", jpeg, "{D}/blocker/snap/a.jpg",
              "Failed to write the snapshot:");
        fails("path is a folder", jpeg, "{D}/", "Failed to write the snapshot:");
    }

    void afterSnapshot()
    {
        QFETCH(QString, image);
        QFETCH(QString, filePath);
        QFETCH(QString, writtenAs);
        QFETCH(QByteArray, content);
        QFETCH(QString, warning);
        QFETCH(QString, why);
        filePath = m_dir->fill(filePath);
        writtenAs = m_dir->fill(writtenAs);
        warning = m_dir->fill(warning);
        why = m_dir->fill(why);
        const QString target
            = writtenAs.isEmpty() ? QString(filePath).replace('\\', '/') : writtenAs;
        const QString folder = target.section('/', 0, -2);
        const QStringList before = filesUnder(m_dir->path());
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        HostRecorder host;
        LogCapture log;
        QCOMPARE(CWebComm().AfterSnapshot(image, "ch-1", 1700000000, filePath),
                 writtenAs.isEmpty() ? -1 : 0);

        QStringList lines { "filePath: " + debugQuoted(filePath),
                            warning.isEmpty() ? "filePath: " + debugQuoted(target) + " path "
                                    + debugQuoted(folder)
                                              : warning };
        if (!why.isEmpty())
            lines << why;
        QCOMPARE(log.lines().size(), lines.size());
        QCOMPARE(log.lines().mid(0, 2), lines.mid(0, 2));
        QVERIFY(why.isEmpty() || log.lines()[2].startsWith(why));
        if (writtenAs.isEmpty()) {
            QVERIFY(host.notices().isEmpty());
            QCOMPARE(filesUnder(m_dir->path()), before);
        } else {
            QCOMPARE(host.notices(), QStringList { snapshotNotice(writtenAs, "ch-1", 1700000000) });
            QCOMPARE(readFile(writtenAs), content);
        }
    }

    // From a real page, a canvas snapshot to a non-ASCII path: the call
    // returns once the file is on disk; the host learns of it, from the page.
    void fromPage()
    {
        HostRecorder host;
        QSignalSpy told(&m_bridge.widgets, &VmsWebWidgets::notifiedHost);
        const QString snap = path("snapshots/通道-7.png");
        bool saved = false;
        const QString dataUrl
            = evalJs(m_bridge.page(),
                     "var c = document.createElement('canvas'); c.width = 64; c.height = 48;"
                     " c.getContext('2d').fillRect(8, 8, 32, 24); c.toDataURL('image/png')")
                  .toString();
        QVERIFY(dataUrl.startsWith("data:image/png;base64,"));
        const QVariant result = callBridge(m_bridge.page(), "AfterSnapshot",
                                           { dataUrl, "通道-7", -12, snap }, &saved);
        QVERIFY(saved && result.toInt() == 0);
        QCOMPARE(readFile(snap), QByteArray::fromBase64(dataUrl.section(',', 1).toLatin1()));
        QCOMPARE(host.notices(), QStringList { snapshotNotice(snap, "通道-7", -12) });
        QCOMPARE(told.value(0), (QVariantList { host.notices().value(0), QString() }));
    }

    // Closing the page while its copy runs (here, while the copy waits to
    // open its source) stops the copy: no target, no temporary file, no
    // notice.
    void copyStopsWithItsPage()
    {
        auto page = std::make_unique<BridgePage>();
        QVERIFY(page->load());
        OpenGate gate(path("src.bin"));
        QVERIFY(gate.ok());
        HostRecorder host;
        QObject context;
        whenReady(
            &context, [&] { return gate.opened(); },
            [&] {
                page.reset();
                gate.release();
            });
        startBridgeCall(page->page(), "CopyFileFunc",
                        { m_dir->fill("[{\"sourceFile\": \"{D}/src.bin\","
                                      " \"targetFile\": \"{D}/out/copy.bin\"}]") });
        QTRY_VERIFY(!page);
        QVERIFY(!QFileInfo::exists(path("out/copy.bin")));
        QCOMPARE(filesUnder(m_dir->path()).filter(".tavi-"), QStringList());
        QVERIFY(host.notices().isEmpty());
    }

    // While a page's copy runs, pushes reach the page, and a second copy
    // started by the host on the same bridge and a further call of the page
    // are done too; every call is answered, each copy is whole and notified.
    void callsDuringACopy()
    {
        const QString target = path("导出 文件/录像 01 副本.mp4");
        OpenGate gate(path("录像 01.mp4"));
        QVERIFY(gate.ok());
        HostRecorder host;
        auto* bridge = m_bridge.widgets.findChild<CWebComm*>();
        clearPageCalls(m_bridge.page());
        QObject context;
        int later = 0;
        whenReady(
            &context, [&] { return gate.opened(); },
            [&] {
                emit dc()->emitDataCacheNotify("during", "copy");
                later = startBridgeCall(m_bridge.page(), "DelFileFunc", { "[]" });
                bridge->CopyFileFunc(m_dir->fill("[{\"sourceFile\": \"{D}/existing.bin\", "
                                                 "\"targetFile\": \"{D}/second.bin\"}]"));
                gate.release();
            });
        bool copied = false, answered = false;
        const int copy = startBridgeCall(m_bridge.page(), "CopyFileFunc",
                                         { m_dir->fill("[{\"sourceFile\": \"{D}/录像 01.mp4\","
                                                       " \"targetFile\": \""
                                                       + target + "\"}]") });
        bridgeResult(m_bridge.page(), copy, &copied);
        QVERIFY(copied && later > 0);
        QCOMPARE(evalJs(m_bridge.page(), QString("window.results[%1].calls").arg(copy)).toInt(), 1);
        bridgeResult(m_bridge.page(), later, &answered);
        QVERIFY(answered);
        QCOMPARE(readFile(target), m_source);
        QCOMPARE(readFile(path("second.bin")), m_existing);
        QCOMPARE(host.notices(),
                 QStringList({ tipText(path("second.bin"), "bin"), tipText(target, "mp4") }));
        QCOMPARE(filesUnder(m_dir->path()).filter(".tavi-"), QStringList());
    }

    void makePath_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("made"); // empty: nothing new is created
        const auto add = [](const char* name, const char* given, int result, const char* made) {
            QTest::newRow(name) << given << result << made;
        };
        // Folders made, relative or not, and those already there:
        // tst_durablesync::makePathSyncsEachFolderMade.
        add("no parent part", "plain", -1, "");
        add("the path is a file", "{D}/blocker", -1, "");
        add("non-ASCII and spaces", "{D}/抓图 目录/子 目录", 0, "{D}/抓图 目录/子 目录");
        // Refused at once, before any folder is made.
        QTest::newRow("beyond the system's limits")
            << "{D}/" + QString("a/").repeated(30000) + "b" << -1 << QString();
    }

    void makePath()
    {
        QFETCH(QString, given);
        QFETCH(int, result);
        QFETCH(QString, made);
        const auto entries = [this] {
            return QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        };
        const QStringList before = entries();
        QCOMPARE(MakePath(m_dir->fill(given)), result);
        QVERIFY(made.isEmpty() ? entries() == before : QFileInfo(m_dir->fill(made)).isDir());
    }

    // The page waits for the modal dialog and gets the choice, or its own
    // start path when the user cancels; the dialog opens there, or without
    // one in the current folder (native separators).
    void browse_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("choose"); // empty: the user cancels
        const auto add
            = [](const char* name, const char* method, const char* start, const char* choose) {
                  QTest::newRow(name) << method << start << choose;
              };
        add("folder, cancelled, no start path", "BrowseFilePath", "", "");
        add("folder, cancelled", "BrowseFilePath", "{D}/folder", "");
        add("folder, chosen", "BrowseFilePath", "{D}/folder", "{D}/pick here");
        add("file, cancelled", "BrowseFile", "{D}/folder", "");
        add("file, sound chosen", "BrowseFile", "{D}/folder", "{D}/folder/bell.wav");
    }

    void browse()
    {
        QFETCH(QString, method);
        QFETCH(QString, start);
        QFETCH(QString, choose);
        start = m_dir->fill(start);
        choose = m_dir->fill(choose);
        QVERIFY(writeFile(path("folder/bell.wav"), "RIFF") && QDir().mkpath(path("pick here")));
        QString openedIn;
        DialogDriver<QFileDialog> driver([&](QFileDialog* dialog) {
            openedIn = dialog->directory().absolutePath();
            if (!choose.isEmpty())
                chooseInDialog(dialog, choose);
        });
        bool ok = false;
        const int id = startBridgeCall(m_bridge.page(), method, { start });
        QCOMPARE(bridgeResult(m_bridge.page(), id, &ok).toString(),
                 choose.isEmpty() ? start : choose);
        QVERIFY(ok);
        QCOMPARE(driver.count(), 1);
        QCOMPARE(openedIn, start.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : start);
    }

    // Every row starts from the files below, a link "link.txt" to target.txt,
    // a link "link-dir" to the folder "dir" and a FIFO; only regular files
    // (or links to them) named as strings go.
    void deleteFiles_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("gone");
        const auto add = [](const char* name, const char* command, const QStringList& gone) {
            QTest::newRow(name) << command << gone;
        };
        add("not JSON", "[\"{D}/a.txt\"", {});
        add("mixed types",
            "[\"{D}/a.txt\", 5, {\"p\": \"{D}/b.txt\"}, [\"{D}/b.txt\"], null, true, "
            "\"{D}/dir/c.txt\"]",
            { "a.txt", "dir/c.txt" });
        add("missing file, then a real one, twice", "[\"{D}/none\", \"{D}/b.txt\", \"{D}/b.txt\"]",
            { "b.txt" });
        add("symbolic link: the link goes, its target stays", "[\"{D}/link.txt\"]", { "link.txt" });
        add("non-ASCII and spaces", "[\"{D}/录像 01.txt\"]", { "录像 01.txt" });
        add("folders stay, also through a link; so does a FIFO",
            "[\"{D}/dir\", \"{D}/link-dir\", \"{D}/fifo\"]", {});
    }

    void deleteFiles()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, gone);
        const QStringList files { "a.txt", "b.txt", "dir/c.txt", "target.txt", "录像 01.txt" };
        for (const QString& name : files)
            QVERIFY(writeFile(path(name), name.toUtf8()));
        QVERIFY(QFile::link(path("target.txt"), path("link.txt"))
                && QFile::link(path("dir"), path("link-dir")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")), 0600), 0);
        const bool valid = !QJsonDocument::fromJson(command.toUtf8()).isNull();
        if (!valid)
            QTest::ignoreMessage(QtWarningMsg, "Invalid JSON string");
        LogCapture log;
        CWebComm().DelFileFunc(m_dir->fill(command));
        for (const QString& name : files + QStringList { "link.txt", "link-dir", "fifo" }) {
            const QFileInfo info(path(name));
            QVERIFY2((info.exists() || info.isSymLink()) != gone.contains(name), qPrintable(name));
            QVERIFY(gone.contains(name) || !files.contains(name)
                    || readFile(info.filePath()) == name.toUtf8());
        }
        QCOMPARE(log.lines(), valid ? QStringList() : QStringList { "Invalid JSON string" });
    }

    // With file roots set, {D}/w/sub is swapped again and again with a link
    // to {D}/out while the bridge copies into it, saves snapshots into it
    // or deletes in it, 50 times: nothing lands outside, nothing there goes.
    void rootsHoldWhileAFolderIsSwapped_data()
    {
        QTest::addColumn<QString>("method");
        for (const char* method : { "CopyFileFunc", "AfterSnapshot", "DelFileFunc" })
            QTest::newRow(method) << method;
    }
    void rootsHoldWhileAFolderIsSwapped()
    {
        QFETCH(QString, method);
        constexpr int kRuns = 50;
        WebAccessPolicy::global().setFileRoots({ path("r") }, { path("w") });
        QVERIFY(writeFile(path("r/src.bin"), "inside"));
        QVERIFY(QDir().mkpath(path("w/sub")) && QDir().mkpath(path("out")));
        QVERIFY(QFile::link(path("out"), path("w/swap")));
        QStringList outside;
        for (int i = 0; i < kRuns; ++i) {
            const QString name = QString("d%1.txt").arg(i);
            QVERIFY(writeFile(path("w/sub/" + name), "inside"));
            QVERIFY(writeFile(path("out/" + name), "outside"));
            outside << name;
        }
        outside.sort();
        CWebComm bridge;
        LogCapture log; // refusals of the moments the link stands there
        {
            NameSwapper swapper(path("w/sub"), path("w/swap"));
            for (int i = 0; i < kRuns; ++i) {
                const QString in = path(QString("w/sub/%1").arg(i));
                if (method == "CopyFileFunc")
                    bridge.CopyFileFunc(QString(R"([{"sourceFile": "%1", "targetFile": "%2"}])")
                                            .arg(path("r/src.bin"), in + ".bin"));
                else if (method == "AfterSnapshot")
                    bridge.AfterSnapshot("data:image/jpeg;base64,/9j/", "1", i, in + ".jpg");
                else
                    bridge.DelFileFunc(
                        QString(R"(["%1"])").arg(path(QString("w/sub/d%1.txt").arg(i))));
            }
            QVERIFY(swapper.swaps() > 0);
        }
        QCOMPARE(filesUnder(path("out")), outside);
        for (const QString& name : std::as_const(outside))
            QCOMPARE(readFile(path("out/" + name)), "outside");
    }
};

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
