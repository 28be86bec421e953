// Files reached beneath their root: links followed only while they stay
// beneath it, never out; and a folder swapped for a link to outside while
// copies, writes and deletions run carries none of them out. Both ways of
// resolving: the kernel's (openat2) and the walk name by name.

#include "TestSupport.h"

#include <FileCopy.h>
#include <FileWriter.h>
#include <RootedFiles.h>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace TaviWebModuleInternal;
using namespace TestSupport;

Q_DECLARE_METATYPE(TaviWebModuleInternal::BeneathResolution)

namespace {

// Both resolutions as rows; the kernel's only where it has it.
void addResolutions(const std::function<void(const char*, BeneathResolution)>& add)
{
    if (kernelResolvesBeneath())
        add("openat2", BeneathResolution::Automatic);
    add("walk", BeneathResolution::WalkOnly);
}

} // namespace

class TestRootedFiles : public QObject
{
    Q_OBJECT
    std::optional<QTemporaryDir> m_dir;
    FileRoots m_roots;
    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    // {D}/w: the write root; {D}/r: the read root; {D}/out: outside.
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        for (const char* f : { "w/sub/a.txt", "r/src.bin", "out/a.txt" })
            QVERIFY(writeFile(path(f), f));
        QVERIFY(QFile::link(path("out"), path("w/out-abs")));
        QVERIFY(QFile::link("../out", path("w/out-rel")));
        QVERIFY(QFile::link("sub/../sub", path("w/in-rel")));
        QVERIFY(QFile::link(path("w/sub"), path("w/in-abs")));
        QVERIFY(QFile::link("../../out/a.txt", path("w/sub/last-out")));
        QVERIFY(QFile::link("a.txt", path("w/sub/last-in")));
        QVERIFY(QFile::link(path("w/sub/a.txt"), path("w/sub/last-abs-in")));
        QVERIFY(QFile::link(path("out/a.txt"), path("w/sub/last-abs-out")));
        m_roots = { true, { path("r") }, { path("w") } };
    }
    void cleanup() { setBeneathResolution(BeneathResolution::Automatic); }

    // What a name beneath the write root resolves to: "sub/<name>" where it
    // stays inside, or the error where it would leave.
    void resolution_data()
    {
        QTest::addColumn<BeneathResolution>("resolution");
        QTest::addColumn<QString>("target"); // under {D}/w
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reached"); // the folder's path, and the name
        const auto rows = [](const char* how, BeneathResolution r) {
            const auto add
                = [&](const char* name, const char* target, int error, const char* reached) {
                      QTest::addRow("%s: %s", how, name) << r << target << error << reached;
                  };
            add("plain", "sub/a.txt", 0, "w/sub|a.txt");
            add("relative link inside", "in-rel/a.txt", 0, "w/sub|a.txt");
            add("last name a link inside, followed", "sub/last-in", 0, "w/sub|a.txt");
            add("last name an absolute link inside, followed", "sub/last-abs-in", 0, "w/sub|a.txt");
            add("new name", "sub/new.txt", 0, "w/sub|new.txt");
            add("last name an absolute link out", "sub/last-abs-out", EXDEV, "");
            add("last name a relative link out", "sub/last-out", EXDEV, "");
            add("last name .. ", "sub/..", EISDIR, "");
            add("missing folder", "none/new.txt", ENOENT, "");
            add("folder an absolute link out", "out-abs/a.txt", EXDEV, "");
            add("folder a relative link out", "out-rel/a.txt", EXDEV, "");
            add("folder an absolute link inside, followed", "in-abs/a.txt", 0, "w/sub|a.txt");
            add("a file as the folder", "sub/a.txt/x", ENOTDIR, "");
            add("a file within the folder", "sub/a.txt/y/x", ENOTDIR, "");
        };
        addResolutions(rows);
    }
    void resolution()
    {
        QFETCH(BeneathResolution, resolution);
        QFETCH(QString, target);
        QFETCH(int, error);
        QFETCH(QString, reached);
        setBeneathResolution(resolution);
        const RootedName name
            = rootedName(path("w/" + target), m_roots, RootAccess::Write, false, true);
        QCOMPARE(name.valid() ? 0 : name.error, error);
        if (!name.valid())
            return;
        char folder[PATH_MAX] = {};
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(name.dir.get());
        const ssize_t n = ::readlink(link.constData(), folder, sizeof folder - 1);
        QVERIFY(n > 0);
        QCOMPARE(QFile::decodeName(folder) + '|' + QString::fromUtf8(name.name),
                 QFileInfo(path(reached.section('|', 0, 0))).canonicalFilePath() + '|'
                     + reached.section('|', 1));
    }

    // A pipe is never opened (the call would block), a folder neither.
    void onlyRegularFilesRead_data()
    {
        QTest::addColumn<BeneathResolution>("resolution");
        addResolutions([](const char* how, BeneathResolution r) { QTest::newRow(how) << r; });
    }
    void onlyRegularFilesRead()
    {
        QFETCH(BeneathResolution, resolution);
        setBeneathResolution(resolution);
        QCOMPARE(::mkfifo(QFile::encodeName(path("r/pipe")).constData(), 0600), 0);
        struct stat st = {};
        QCOMPARE(openRegularForReading(path("r/pipe"), m_roots, &st), -1);
        QCOMPARE(errno, EINVAL);
        QCOMPARE(openRegularForReading(path("w/sub"), m_roots, &st), -1);
        QCOMPARE(errno, EINVAL);
        const int fd = openRegularForReading(path("r/src.bin"), m_roots, &st);
        QVERIFY(fd >= 0);
        ::close(fd);
        QCOMPARE(st.st_size, off_t(sizeof "r/src.bin" - 1));
    }

    // {D}/w/sub swapped with a link to {D}/out, again and again, while 50
    // copies, 50 writes or 50 deletions run inside {D}/w/sub: none lands
    // outside or removes a file there. (A relative link out meets the same
    // checks: resolution.)
    void racesStayInside_data()
    {
        QTest::addColumn<BeneathResolution>("resolution");
        QTest::addColumn<QString>("operation");
        addResolutions([](const char* how, BeneathResolution r) {
            for (const char* op : { "copy", "write", "delete" })
                QTest::addRow("%s: %s", how, op) << r << op;
        });
    }
    void racesStayInside()
    {
        QFETCH(BeneathResolution, resolution);
        QFETCH(QString, operation);
        setBeneathResolution(resolution);
        constexpr int kRuns = 50;
        QVERIFY(QFile::remove(path("out/a.txt")));
        QVERIFY(QFile::link(path("out"), path("w/swap")));
        QStringList outside;
        for (int i = 0; i < kRuns; ++i) {
            const QString name = QString("d%1.txt").arg(i);
            QVERIFY(writeFile(path("w/sub/" + name), "inside"));
            QVERIFY(writeFile(path("out/" + name), "outside"));
            outside << name;
        }
        outside.sort();
        {
            NameSwapper swapper(path("w/sub"), path("w/swap"));
            for (int i = 0; i < kRuns; ++i) {
                const QString target = path(QString("w/sub/new/%1.bin").arg(i));
                if (operation == "copy") {
                    copyFile(path("r/src.bin"), target, m_roots);
                } else if (operation == "write") {
                    ReplacingFile file(rootedName(target, m_roots, RootAccess::Write, true, true));
                    if (file.open() && file.file().write("snapshot") == 8)
                        file.commit();
                } else {
                    removeFileBeneath(path(QString("w/sub/d%1.txt").arg(i)), m_roots);
                }
            }
            QVERIFY(swapper.swaps() > 0);
        }
        QCOMPARE(filesUnder(path("out")), outside);
        for (const QString& name : std::as_const(outside))
            QCOMPARE(readFile(path("out/" + name)), "outside");
    }
};

QTEST_MAIN(TestRootedFiles)
#include "tst_rootedfiles.moc"
