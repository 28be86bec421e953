// The replacing file behind copies and snapshots: a target changes only by a
// complete commit, keeps or gets the right mode, and a link is written through.

#include "TestSupport.h"

#include <FileCopy.h>
#include <FileWriter.h>
#include <sys/stat.h>

using namespace TaviWebModuleInternal;
using namespace TestSupport;

class TestFileWriter : public QObject
{
    Q_OBJECT
private slots:
    void linkWrittenThrough();
    void kernelCopy_data();
    void kernelCopy();
    void copyProgress_data();
    void copyProgress();
};

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

// A link at the target is written through: the file it names gets the
// content and keeps its mode, the link stays. (New files, failed writes and
// modes are checked through the bridge, in tst_files.)
void TestFileWriter::linkWrittenThrough()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("file.bin");
    const QString link = dir.filePath("link.bin");
    QVERIFY(writeFile(file, "old"));
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(QFile::link(file, link));
    {
        ReplacingFile out(link);
        out.setNewFileMode(0604);
        QVERIFY(out.open());
        QCOMPARE(out.file().write("new"), 3);
        QVERIFY(out.commit());
    }
    QCOMPARE(readFile(file), "new");
    QCOMPARE(int(modeOf(file)), 0640);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QDir(dir.path()).entryList({ ".tavi-*" }, QDir::Files | QDir::Hidden), QStringList());
}

// Data where the source has data, holes where it has holes (as cp keeps
// them); both files positioned at the end for the caller's own loop.
void TestFileWriter::kernelCopy_data()
{
    QTest::addColumn<qint64>("holeBefore");
    QTest::addColumn<qint64>("holeAfter");
    QTest::newRow("plain data") << qint64(0) << qint64(0);
    QTest::newRow("sparse: holes around the data") << qint64(64) << qint64(64);
}

void TestFileWriter::kernelCopy()
{
    QFETCH(qint64, holeBefore);
    QFETCH(qint64, holeAfter);
    const qint64 mib = 1024 * 1024;
    QTemporaryDir dir;
    const QByteArray data = QByteArray("0123456789abcdef").repeated(64 * 1024);
    QFile in(dir.filePath("in"));
    QFile out(dir.filePath("out"));
    QVERIFY(in.open(QIODevice::ReadWrite) && out.open(QIODevice::WriteOnly));
    QVERIFY(in.seek(holeBefore * mib) && in.write(data) == data.size());
    QVERIFY(in.resize(in.size() + holeAfter * mib) && in.seek(0));
    const qint64 size = in.size();

    QCOMPARE(TaviWebModuleInternal::kernelCopy(in, out), size);
    QCOMPARE(in.pos(), size);
    QCOMPARE(out.pos(), size);
    out.close();
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(out.fileName()).constData(), &st), 0);
    QCOMPARE(qint64(st.st_size), size);
    QVERIFY2(qint64(st.st_blocks) * 512 <= data.size() + mib, "holes were filled in");
    in.seek(0);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), in.readAll());
}

QTEST_MAIN(TestFileWriter)
// A copy tells its progress after each chunk: the total is the source's
// size, the bytes done only grow, and the last report is the whole file.
// Sparse sources report their data and holes alike.
void TestFileWriter::copyProgress_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("sparse");
    QTest::newRow("several kernel chunks") << qint64(40 * 1024 * 1024 + 7) << false;
    QTest::newRow("sparse, data at the end") << qint64(40 * 1024 * 1024) << true;
}

void TestFileWriter::copyProgress()
{
    QFETCH(qint64, size);
    QFETCH(bool, sparse);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("source.bin");
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (sparse) {
        QVERIFY(file.resize(size - 4096));
        QVERIFY(file.seek(size - 4096));
        QCOMPARE(file.write(QByteArray(4096, 'x')), qint64(4096));
    } else {
        QCOMPARE(file.write(QByteArray(int(size), 'y')), size);
    }
    file.close();
    QList<std::pair<qint64, qint64>> reports;
    const auto report = [&reports](qint64 done, qint64 total) { reports.append({ done, total }); };
    QVERIFY(copyFile(source, dir.filePath("copy.bin"), {}, nullptr, report));
    QCOMPARE(QFileInfo(dir.filePath("copy.bin")).size(), size);
    // A report at least: the last one tells that all of it is written.
    QVERIFY(!reports.isEmpty());
    for (qsizetype i = 0; i < reports.size(); ++i) {
        QCOMPARE(reports[i].second, size);
        QVERIFY(i == 0 || reports[i].first > reports[i - 1].first);
    }
    QCOMPARE(reports.constLast().first, size);
}

#include "tst_filewriter.moc"
