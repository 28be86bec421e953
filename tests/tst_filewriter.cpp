// The replacing file behind copies and snapshots: a target changes only by a
// complete commit, keeps or gets the right mode, and a link is written through.

#include "TestSupport.h"

#include <FileWriter.h>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <sys/stat.h>

using namespace TaviWebModuleInternal;
using namespace TestSupport;

class TestFileWriter : public QObject
{
    Q_OBJECT
private slots:
    void replace_data();
    void replace();
    void kernelCopyPositionsBothFiles();
};

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

// "target" is what stands at the path before: nothing, a file of mode 0640,
// or a link to such a file.
void TestFileWriter::replace_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("commit");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");

    QTest::newRow("new file gets the mode asked for")
        << "none" << true << QByteArray("new") << 0604;
    QTest::newRow("existing file keeps its mode") << "file" << true << QByteArray("new") << 0640;
    QTest::newRow("no commit: no file") << "none" << false << QByteArray("<unreadable>") << 0;
    QTest::newRow("no commit: old content") << "file" << false << QByteArray("old") << 0640;
    QTest::newRow("link written through") << "link" << true << QByteArray("new") << 0640;
}

void TestFileWriter::replace()
{
    QFETCH(QString, target);
    QFETCH(bool, commit);
    QFETCH(QByteArray, content);
    QFETCH(int, mode);

    QTemporaryDir dir;
    const QString file = dir.filePath("file.bin");
    const QString link = dir.filePath("link.bin");
    if (target != "none") {
        QVERIFY(writeFile(file, "old"));
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    }
    if (target == "link")
        QVERIFY(QFile::link(file, link));

    {
        ReplacingFile out(target == "link" ? link : file);
        out.setNewFileMode(0604);
        QVERIFY(out.open());
        QCOMPARE(out.file().write("new"), 3);
        if (commit)
            QVERIFY(out.commit());
    }
    QCOMPARE(readFile(file), content);
    QCOMPARE(int(modeOf(file)), mode);
    if (target == "link")
        QVERIFY(QFileInfo(link).isSymLink());
    // No temporary file stays behind.
    QCOMPARE(QDir(dir.path()).entryList({ ".tavi-*" }, QDir::Files | QDir::Hidden), QStringList());
}

void TestFileWriter::kernelCopyPositionsBothFiles()
{
    QTemporaryDir dir;
    const QByteArray data = QByteArray("0123456789").repeated(100000);
    QVERIFY(writeFile(dir.filePath("in"), data));
    QFile in(dir.filePath("in"));
    QFile out(dir.filePath("out"));
    QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));

    QCOMPARE(kernelCopy(in, out), qint64(data.size()));
    // The caller's own loop goes on from here and must find nothing left.
    QCOMPARE(in.pos(), qint64(data.size()));
    QCOMPARE(out.pos(), qint64(data.size()));
    QVERIFY(in.read(16).isEmpty());
    out.close();
    QCOMPARE(readFile(dir.filePath("out")), data);
}

QTEST_MAIN(TestFileWriter)
#include "tst_filewriter.moc"
