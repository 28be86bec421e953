#include "FileDialogDriver.h"
#include "TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <memory>

using namespace TestSupport;

class TestFileBrowse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void browse_data();
    void browse();
    void deleteFiles_data();
    void deleteFiles();

private:
    QWidget m_parent;
    std::unique_ptr<VmsWebWidgets> m_widget;
    QScopedPointer<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void TestFileBrowse::initTestCase()
{
    m_widget = std::make_unique<VmsWebWidgets>(&m_parent);
    QVERIFY(loadBridgePage(*m_widget));
}

void TestFileBrowse::cleanupTestCase()
{
    m_widget.reset();
}

void TestFileBrowse::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(writeFile(path("sounds/bell.wav"), "RIFF"));
    QVERIFY(QDir().mkpath(path("pick here")));
}

// "{D}" in a row stands for the test's scratch folder. Cancelling gives back
// the start path; the dialog opens there, or without one in the current
// folder (native separators).
void TestFileBrowse::browse_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("choose"); // empty: the user cancels
    const auto add = [](const char* name, const char* method, const char* start,
                         const char* choose) { QTest::newRow(name) << method << start << choose; };

    add("folder, cancelled, no start path", "BrowseFilePath", "", "");
    add("folder, cancelled, start path", "BrowseFilePath", "{D}/sounds", "");
    add("folder, chosen", "BrowseFilePath", "{D}/sounds", "{D}/pick here");
    add("file, cancelled, no start path", "BrowseFile", "", "");
    add("file, cancelled, start path", "BrowseFile", "{D}/sounds", "");
    add("file, sound chosen", "BrowseFile", "{D}/sounds", "{D}/sounds/bell.wav");
}

void TestFileBrowse::browse()
{
    QFETCH(QString, method);
    QFETCH(QString, start);
    QFETCH(QString, choose);
    start.replace("{D}", m_dir->path());
    choose.replace("{D}", m_dir->path());

    FileDialogDriver driver([&](QFileDialog* dialog) {
        if (choose.isEmpty())
            dialog->reject();
        else
            chooseInDialog(dialog, choose);
    });
    // The page waits for the modal dialog and gets the choice as the result.
    bool ok = false;
    const int id = startBridgeCall(pageOf(*m_widget), method, { start });
    const QString result = bridgeResult(pageOf(*m_widget), id, &ok).toString();
    QVERIFY(ok);
    QCOMPARE(driver.count(), 1);
    QCOMPARE(result, choose.isEmpty() ? start : choose);
    QCOMPARE(driver.last().directory,
        start.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : start);
    if (method == QLatin1String("BrowseFilePath")) {
        QCOMPARE(driver.last().fileMode, QFileDialog::Directory);
        QVERIFY(driver.last().options.testFlag(QFileDialog::ShowDirsOnly));
    } else {
        QCOMPARE(driver.last().fileMode, QFileDialog::ExistingFile);
        // The audio filter offered first, and chosen.
        QCOMPARE(driver.last().nameFilters,
            QStringList({ "Audio Files (*.mp3 *.wav)", "All Files (*)" }));
        QCOMPARE(driver.last().selectedNameFilter, QStringLiteral("Audio Files (*.mp3 *.wav)"));
    }
}

// Every row starts from the files below and a link "link.txt" to target.txt;
// those not listed as gone must be left as they were.
void TestFileBrowse::deleteFiles_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QString>("warning");

    QTest::newRow("not JSON") << "[\"{D}/a.txt\"" << QStringList() << "Invalid JSON string";
    QTest::newRow("mixed types") << "[\"{D}/a.txt\", 5, {\"p\": \"{D}/b.txt\"}, [\"{D}/b.txt\"],"
                                    " null, true, \"{D}/dir/c.txt\"]"
                                 << QStringList { "a.txt", "dir/c.txt" } << "";
    QTest::newRow("folder untouched") << "[\"{D}/dir\"]" << QStringList() << "";
    QTest::newRow("missing file, then a real one")
        << "[\"{D}/nothing.txt\", \"{D}/b.txt\"]" << QStringList { "b.txt" } << "";
    QTest::newRow("same file twice")
        << "[\"{D}/a.txt\", \"{D}/a.txt\"]" << QStringList { "a.txt" } << "";
    QTest::newRow("symbolic link: the link goes, its target stays")
        << "[\"{D}/link.txt\"]" << QStringList { "link.txt" } << "";
    QTest::newRow("non-ASCII and spaces")
        << "[\"{D}/录像 01.txt\"]" << QStringList { "录像 01.txt" } << "";
}

void TestFileBrowse::deleteFiles()
{
    QFETCH(QString, command);
    QFETCH(QStringList, gone);
    QFETCH(QString, warning);

    const QStringList files { "a.txt", "b.txt", "dir/c.txt", "target.txt", "录像 01.txt" };
    for (const QString& name : files)
        QVERIFY(writeFile(path(name), name.toUtf8()));
    QVERIFY(QFile::link(path("target.txt"), path("link.txt")));

    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    LogCapture log;
    CWebComm bridge;
    bridge.DelFileFunc(command.replace("{D}", m_dir->path()));

    for (const QString& name : gone)
        QVERIFY2(!QFileInfo(path(name)).exists() && !QFileInfo(path(name)).isSymLink(),
            qPrintable(name));
    for (const QString& name : files) {
        if (!gone.contains(name))
            QCOMPARE(readFile(path(name)), name.toUtf8());
    }
    QVERIFY(QFileInfo(path("dir")).isDir());
    QCOMPARE(log.lines(), warning.isEmpty() ? QStringList() : QStringList { warning });
}

QTEST_MAIN(TestFileBrowse)
#include "tst_filebrowse.moc"
