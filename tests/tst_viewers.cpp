// What the bridge shows and plays: the picture viewer (ShowPicture), the
// alarm tips box with its Chinese translation (ShowDevAlarmTips), and
// PlaySoundFile's player pair.

#include "TestSupport.h"

#include <ImageDialog.h>
#include <MyMessageBox.h>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QTranslator>
#include <QtGui/QDesktopServices>
#include <QtGui/QImage>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <WebAccessPolicy.h>
#include <cstdio>

using namespace TestSupport;

namespace {

// Stands in for the desktop: records the urls it is asked to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

QString writePicture(const QString& path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return QDir().mkpath(QFileInfo(path).path()) && image.save(path, "PNG") ? path : QString();
}

QLabel* label(QDialog& d, const char* name)
{
    return d.findChild<QLabel*>(QLatin1String(name));
}

QPushButton* button(CMessageBox* box, const char* name)
{
    return box->findChild<QPushButton*>(QLatin1String(name));
}

// Child mode: shows one box through the bridge on the screen the parent set
// up and prints where the box stood.
int showAlarmBoxAndReport(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPoint where(-1, -1);
    DialogDriver<CMessageBox> driver([&](CMessageBox* box) { where = box->pos(); });
    CWebComm().ShowDevAlarmTips(QStringLiteral("Camera 3: motion"));
    std::printf("%d %d\n", where.x(), where.y());
    return driver.count() == 1 ? 0 : 1;
}

// A valid, silent WAV file: 8 kHz, 16-bit mono, no samples.
const QByteArray kWav = QByteArray::fromHex(
    "524946462400000057415645666d74201000000001000100401f0000803e0000020010006461746100000000");

// The bridge's players and outputs, the newest last.
QList<QMediaPlayer*> players(const CWebComm& bridge)
{
    return bridge.findChildren<QMediaPlayer*>(QString(), Qt::FindDirectChildrenOnly);
}
QList<QAudioOutput*> outputs(const CWebComm& bridge)
{
    return bridge.findChildren<QAudioOutput*>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

class TestViewers : public QObject
{
    Q_OBJECT
    ScratchDir m_dir; // the current folder
    UrlRecorder m_desktop;

    QString m_chime = m_dir.filePath(QStringLiteral("chime.wav"));
    QString m_bell = m_dir.filePath(QStringLiteral("bell.wav"));

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_desktop, "open");
        QVERIFY(writeFile(m_chime, kWav) && writeFile(m_bell, kWav));
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void cleanup() { WebAccessPolicy::global().setFileRoots({}, {}); }

    // Scaled to fit 720 x 560 with its proportions, small pictures grown.
    void scalesToFit_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("full HD snapshot") << QSize(1920, 1080) << QSize(720, 405);
        QTest::newRow("small picture grows") << QSize(360, 280) << QSize(720, 560);
        QTest::newRow("portrait") << QSize(300, 600) << QSize(280, 560);
    }

    void scalesToFit()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, shown);
        ImageDialog dialog(writePicture(m_dir.filePath("scale.png"), picture), nullptr);
        dialog.show();
        QCOMPARE(label(dialog, "pictureLabel")->pixmap().size(), shown);
    }

    void showPictureRunsModally_data()
    {
        QTest::addColumn<bool>("loadable");
        QTest::newRow("picture") << true;
        QTest::newRow("unloadable picture") << false;
    }

    // Modal, titled with the file name, nothing unnamed to a screen reader; a
    // picture that cannot be loaded keeps the title bar with its close button
    // and says why it is empty.
    void showPictureRunsModally()
    {
        QFETCH(bool, loadable);
        const QString path = loadable ? writePicture(m_dir.filePath("modal.png"), QSize(200, 100))
                                      : m_dir.filePath("nothing-here.png");
        if (!loadable)
            QTest::ignoreMessage(QtWarningMsg, "Image could not be loaded.");
        QStringList seen; // title, picture text, whether both show, unnamed controls
        DialogDriver<ImageDialog> driver([&](ImageDialog* dialog) {
            auto* close = dialog->findChild<QPushButton*>("closeButton");
            seen << label(*dialog, "titleLabel")->text() << label(*dialog, "pictureLabel")->text()
                 << QString::number(close->isVisible()
                                    && label(*dialog, "pictureLabel")->isVisible())
                 << unnamedControls(dialog);
            close->click();
        });
        CWebComm().ShowPicture(path);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(seen,
                 QStringList({ QFileInfo(path).fileName(),
                               loadable ? QString() : QStringLiteral("Image could not be loaded."),
                               "1" }));
    }
    // From the keyboard: the box holds the focus as it opens; Enter chooses
    // the highlighted button ("Prompt later", or the one Tab reached: the
    // corner button, then the row), Escape closes as the corner button does.
    // A button pressed so is clicked as by the mouse.
    void choiceByKeyboard_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("focus"); // where the last key went
        QTest::addColumn<bool>("result");
        const auto add = [](const char* name, QList<int> keys, const char* focus, bool result) {
            QTest::newRow(name) << keys << focus << result;
        };
        const int tab = Qt::Key_Tab;
        add("Enter", { Qt::Key_Return }, "", true);
        add("Tab to the corner, Enter", { tab, Qt::Key_Return }, "cornerCloseButton", false);
        add("Tab three times, Enter", { tab, tab, tab, Qt::Key_Return }, "closePromptButton",
            false);
        add("Tab twice, Space", { tab, tab, Qt::Key_Space }, "promptLaterButton", true);
        add("Escape", { Qt::Key_Escape }, "", false);
    }

    void choiceByKeyboard()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, focus);
        QFETCH(bool, result);
        QStringList where;
        DialogDriver<CMessageBox> driver([&](CMessageBox* box) {
            if (!QTest::qWaitForWindowActive(box))
                return;
            where << (QApplication::focusWidget() == box ? "box" : "elsewhere");
            for (int key : keys) {
                QWidget* target = QApplication::focusWidget();
                if (!target)
                    return;
                where << target->objectName();
                QTest::keyClick(target, Qt::Key(key));
            }
        });
        QCOMPARE(CWebComm().ShowDevAlarmTips(QStringLiteral("Door 2 forced open")), result);
        QCOMPARE(driver.count(), 1);
        QCOMPARE(where.value(0), QStringLiteral("box"));
        QCOMPARE(where.last(), focus);
    }

    // The picture viewer holds the focus as it opens: Enter opens the folder
    // (a relative path's made absolute) and leaves it open, Escape closes it.
    void pictureViewerByKeyboard()
    {
        QVERIFY(!writePicture(m_dir.filePath("keys/snap.png"), QSize(64, 48)).isEmpty());
        QStringList seen;
        DialogDriver<ImageDialog> driver([&](ImageDialog* dialog) {
            if (!QTest::qWaitForWindowActive(dialog))
                return;
            seen << QString::number(QApplication::focusWidget() == dialog);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            seen << QString::number(dialog->isVisible()) << QString::number(m_desktop.urls.size());
            // Enter may have closed it (then no widget has the focus).
            if (QWidget* target = QApplication::focusWidget())
                QTest::keyClick(target, Qt::Key_Escape);
            seen << QString::number(dialog->isVisible());
        });
        CWebComm().ShowPicture("keys/snap.png");
        QCOMPARE(seen, QStringList({ "1", "1", "1", "0" }));
        QCOMPARE(m_desktop.urls, QList<QUrl>({ QUrl::fromLocalFile(m_dir.filePath("keys")) }));
        QCOMPARE(driver.count(), 1);
    }

    // The installed translation names the buttons, also to a screen reader,
    // and leaves nothing unnamed. (Without one they keep their source texts.)
    void translatedButtons()
    {
        // Beside the programs in the build tree, as after installation.
        const QString dir
            = QCoreApplication::applicationDirPath() + "/../share/TaviWebModule/translations";
        QTranslator translator;
        QVERIFY2(translator.load(QLocale("zh_CN"), "taviwebmodule", "_", dir), qPrintable(dir));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        QStringList shown;
        DialogDriver<CMessageBox> driver([&](CMessageBox* box) {
            shown << button(box, "promptLaterButton")->text()
                  << button(box, "closePromptButton")->text()
                  << button(box, "cornerCloseButton")->accessibleName() << unnamedControls(box);
        });
        QVERIFY(!CWebComm().ShowDevAlarmTips(QStringLiteral("Camera 7 reports motion in zone 3")));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(shown, QStringList({ "稍后提示", "关闭提示", "关闭" }));
    }

    // Centred on the primary screen, wherever it starts. The primary screen
    // is fixed once the application runs, so a child run of this program
    // shows the box.
    void placement()
    {
        QTemporaryDir dir;
        QFile config(dir.filePath(QStringLiteral("screens.json")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(R"({"screens":[{"name":"primary","x":1920,"y":200,"width":1365,"height":767,)"
                     R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
        config.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--show-alarm-box") });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        // (1365 - 440) / 2 and (767 - 230) / 2, rounded down, from the screen's corner.
        QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("2382 468"));
    }
    // Without an output device nothing plays; otherwise the player's state
    // right after play() decides the line. Other debug lines are the back end's.
    void playsWithItsOwnOutput()
    {
        CWebComm bridge;
        LogCapture log;
        bridge.PlaySoundFile(m_chime);
        QMediaPlayer* player = players(bridge).value(0);
        QVERIFY(player); // its output and source: pairReplacedAndGoneWithTheBridge
        const bool noDevice = QMediaDevices::defaultAudioOutput().isNull();
        QString expected = QStringLiteral("No Error");
        if (noDevice)
            expected = QStringLiteral("Error:  \"No audio output device\"");
        else if (player->error() != QMediaPlayer::NoError)
            expected = QStringLiteral("Error:  \"%1\"").arg(player->errorString());
        const QStringList outcome
            = log.debugLines().filter(QRegularExpression("^(No Error|Error: )"));
        QCOMPARE(outcome, QStringList({ expected }));
        QVERIFY(!noDevice || player->playbackState() == QMediaPlayer::StoppedState);
    }

    // A path the module does not open shows or plays nothing; the viewer's
    // line for a file it cannot open follows the refusal.
    void refusedPaths_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path"); // "{F}": a file that is there
        QTest::addColumn<bool>("rooted"); // pages may read only another folder
        QTest::addColumn<QStringList>("lines");
        const QString refused = "tavi.webmodule: Refused %1: ";
        // The picture's line is one for every cause; the sound's names the
        // cause's kind. (Each cause's refusal: tst_accesspolicy::onePathRule.)
        QTest::newRow("ShowPicture, a URL")
            << "ShowPicture"
            << "file://{F}" << false
            << QStringList { refused.arg("ShowPicture")
                                 + "a URL, not a local file path: file://{F}",
                             "Image could not be loaded." };
        const QString sound = refused.arg("PlaySoundFile");
        QTest::newRow("PlaySoundFile, an empty path")
            << "PlaySoundFile"
            << "" << false
            << QStringList { sound + "an empty path",
                             "Error:  \"the path is not a local file path\"" };
        QTest::newRow("PlaySoundFile, outside the file roots")
            << "PlaySoundFile"
            << "{F}" << true
            << QStringList { sound + "reading outside the file roots: {F}",
                             "Error:  \"the path is outside the host's file roots\"" };
    }

    void refusedPaths()
    {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(bool, rooted);
        QFETCH(QStringList, lines);
        const QString file = writePicture(m_dir.filePath("there.png"), QSize(20, 10));
        path.replace("{F}", file);
        lines.replaceInStrings("{F}", file);
        if (rooted)
            WebAccessPolicy::global().setFileRoots({ m_dir.filePath("elsewhere") }, {});
        DialogDriver<ImageDialog> viewers([](ImageDialog*) {});
        CWebComm bridge;
        LogCapture log;
        QVERIFY(QMetaObject::invokeMethod(&bridge, qPrintable(method), Q_ARG(QString, path)));
        QCOMPARE(log.lines(), lines);
        QCOMPARE(viewers.count(), 0);
        QVERIFY(players(bridge).isEmpty());
    }

    // A new call replaces the pair, the old one lasting until the event loop
    // turns; the pair goes with the bridge.
    void pairReplacedAndGoneWithTheBridge()
    {
        auto bridge = std::make_unique<CWebComm>();
        bridge->PlaySoundFile(m_chime);
        QPointer<QMediaPlayer> firstPlayer = players(*bridge).first();
        QPointer<QAudioOutput> firstOutput = outputs(*bridge).first();
        bridge->PlaySoundFile(m_bell);
        QVERIFY(firstPlayer && firstOutput);
        QCOMPARE(players(*bridge).size(), 2);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(firstPlayer.isNull() && firstOutput.isNull());
        QPointer<QMediaPlayer> player = players(*bridge).value(0);
        QCOMPARE(players(*bridge).size(), 1);
        QCOMPARE(player->source(), QUrl::fromLocalFile(m_bell));
        QCOMPARE(outputs(*bridge), QList<QAudioOutput*> { player->audioOutput() });
        QPointer<QAudioOutput> output = player->audioOutput();
        bridge.reset();
        QVERIFY(player.isNull() && output.isNull());
    }
};

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--show-alarm-box") == 0)
        return showAlarmBoxAndReport(argc, argv);
    QApplication app(argc, argv);
    TestViewers test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_viewers.moc"
