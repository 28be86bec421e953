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

using namespace TestSupport;

class TestFileBrowse : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void browse_data();
    void browse();
    void browseFromPage();
    void deleteFiles_data();
    void deleteFiles();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void TestFileBrowse::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(writeFile(path("sounds/bell.wav"), "RIFF"));
    QVERIFY(writeFile(path("sounds/notes.txt"), "text"));
    QVERIFY(QDir().mkpath(path("pick here")));
}

// "{D}" in a row stands for the test's scratch folder, "{CWD}" for the
// current folder.
void TestFileBrowse::browse_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("choose"); // empty: the user cancels
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("openedIn");

    QTest::newRow("folder, cancelled, no start path") << "BrowseFilePath"
                                                      << ""
                                                      << ""
                                                      << ""
                                                      << "{CWD}";
    QTest::newRow("folder, cancelled, start path") << "BrowseFilePath"
                                                   << "{D}/sounds"
                                                   << ""
                                                   << "{D}/sounds"
                                                   << "{D}/sounds";
    QTest::newRow("folder, missing start path still opens") << "BrowseFilePath"
                                                            << "{D}/not there"
                                                            << ""
                                                            << "{D}/not there"
                                                            << "";
    QTest::newRow("folder, chosen") << "BrowseFilePath"
                                    << "{D}/sounds"
                                    << "{D}/pick here"
                                    << "{D}/pick here"
                                    << "{D}/sounds";
    QTest::newRow("file, cancelled, no start path") << "BrowseFile"
                                                    << ""
                                                    << ""
                                                    << ""
                                                    << "{CWD}";
    QTest::newRow("file, cancelled, start path") << "BrowseFile"
                                                 << "{D}/sounds"
                                                 << ""
                                                 << "{D}/sounds"
                                                 << "{D}/sounds";
    QTest::newRow("file, sound chosen") << "BrowseFile"
                                        << "{D}/sounds"
                                        << "{D}/sounds/bell.wav"
                                        << "{D}/sounds/bell.wav"
                                        << "{D}/sounds";
}

void TestFileBrowse::browse()
{
    QFETCH(QString, method);
    QFETCH(QString, start);
    QFETCH(QString, choose);
    QFETCH(QString, expected);
    QFETCH(QString, openedIn);
    const auto fill = [this](QString s) {
        return s.replace("{D}", m_dir->path())
            .replace("{CWD}", QDir::toNativeSeparators(QDir::currentPath()));
    };

    FileDialogDriver driver([&](QFileDialog* dialog) {
        if (choose.isEmpty())
            dialog->reject();
        else
            chooseInDialog(dialog, fill(choose));
    });
    CWebComm bridge;
    QString result;
    QVERIFY(QMetaObject::invokeMethod(&bridge, method.toLatin1().constData(),
        Q_RETURN_ARG(QString, result), Q_ARG(QString, fill(start))));

    QCOMPARE(driver.count(), 1);
    QCOMPARE(result, fill(expected));
    if (!openedIn.isEmpty())
        QCOMPARE(driver.lastDirectory(), fill(openedIn));
    if (method == QLatin1String("BrowseFilePath")) {
        QCOMPARE(driver.lastFileMode(), QFileDialog::Directory);
        QVERIFY(driver.lastOptions().testFlag(QFileDialog::ShowDirsOnly));
    } else {
        QCOMPARE(driver.lastFileMode(), QFileDialog::ExistingFile);
        QCOMPARE(driver.lastNameFilters(),
            QStringList({ "Audio Files (*.mp3 *.wav)", "All Files (*)" }));
        QCOMPARE(driver.lastSelectedNameFilter(), QStringLiteral("Audio Files (*.mp3 *.wav)"));
    }
}

// The page waits for the modal dialog and gets the choice as the result.
void TestFileBrowse::browseFromPage()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    FileDialogDriver driver(
        [&](QFileDialog* dialog) { chooseInDialog(dialog, path("sounds/bell.wav")); });

    bool ok = false;
    const int id = startBridgeCall(pageOf(w), "BrowseFile", { path("sounds") });
    const QVariant result = bridgeResult(pageOf(w), id, &ok);
    QVERIFY(ok);
    QCOMPARE(result.toString(), path("sounds/bell.wav"));
    QCOMPARE(driver.count(), 1);
}

void TestFileBrowse::deleteFiles_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QString>("warning");

    const QStringList all { "a.txt", "b.txt", "dir/c.txt", "target.txt" };
    QTest::newRow("not JSON") << "[\"{D}/a.txt\"" << QStringList() << all << "Invalid JSON string";
    QTest::newRow("object") << "{\"path\": \"{D}/a.txt\"}" << QStringList() << all << "";
    QTest::newRow("empty array") << "[]" << QStringList() << all << "";
    QTest::newRow("mixed types") << "[\"{D}/a.txt\", 5, {\"p\": \"{D}/b.txt\"}, [\"{D}/b.txt\"],"
                                    " null, true, \"{D}/dir/c.txt\"]"
                                 << QStringList { "a.txt", "dir/c.txt" }
                                 << QStringList { "b.txt", "target.txt" } << "";
    QTest::newRow("folder untouched") << "[\"{D}/dir\"]" << QStringList() << all << "";
    QTest::newRow("missing file, then a real one")
        << "[\"{D}/nothing.txt\", \"{D}/b.txt\"]" << QStringList { "b.txt" }
        << QStringList { "a.txt", "dir/c.txt", "target.txt" } << "";
    QTest::newRow("same file twice") << "[\"{D}/a.txt\", \"{D}/a.txt\"]" << QStringList { "a.txt" }
                                     << QStringList { "b.txt", "dir/c.txt", "target.txt" } << "";
    QTest::newRow("symbolic link: the link goes, its target stays")
        << "[\"{D}/link.txt\"]" << QStringList { "link.txt" } << all << "";
    QTest::newRow("non-ASCII and spaces")
        << "[\"{D}/录像 01.txt\"]" << QStringList { "录像 01.txt" } << all << "";
}

void TestFileBrowse::deleteFiles()
{
    QFETCH(QString, command);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, kept);
    QFETCH(QString, warning);

    for (const QString name : { "a.txt", "b.txt", "dir/c.txt", "target.txt", "录像 01.txt" })
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
    for (const QString& name : kept)
        QCOMPARE(readFile(path(name)), name.toUtf8());
    QVERIFY(QFileInfo(path("dir")).isDir());
    QCOMPARE(log.lines(), warning.isEmpty() ? QStringList() : QStringList { warning });
}

QTEST_MAIN(TestFileBrowse)
#include "tst_filebrowse.moc"
