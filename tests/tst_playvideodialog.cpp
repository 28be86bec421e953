// The video playback dialog against a recording stream SDK, and the bridge's
// PlayVideoFile that opens it.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <PlayVideoDialog.h>
#include <QtGui/QIcon>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>
#include <SkinMgr.h>
#include <TaviSim.h>
#include <VolumeMenu.h>
#include <optional>

namespace {

// The dialog's controls, found as a user (or the test) sees them.
struct Controls
{
    QWidget& dialog;
    QPushButton* play = dialog.findChild<QPushButton*>(QStringLiteral("playPauseButton"));
    QPushButton* speaker = dialog.findChild<QPushButton*>(QStringLiteral("speakerButton"));
    QSlider* slider = dialog.findChild<QSlider*>(QStringLiteral("positionSlider"));
    VolumeMenu* popup = dialog.findChild<VolumeMenu*>();
    QTimer* poll = dialog.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);

    // The play button offers "pause" only while a playback runs unpaused.
    bool showsPause() const { return play->styleSheet().contains("replay_play_pause.png"); }
    bool showsSoundOn() const
    {
        const QIcon on(taviSkinMgr()->getPixmap("PlayView", "icon_volume_open.png", {}, -1, -1));
        return speaker->icon().pixmap(20).toImage() == on.pixmap(20).toImage();
    }
    // A drag of the slider's handle by the user, released at value unless held.
    void drag(int value, bool release = true) const
    {
        slider->setSliderDown(true);
        slider->setSliderPosition(value);
        slider->setSliderDown(!release);
    }
    void tick() { QVERIFY(QMetaObject::invokeMethod(&dialog, "onUpdatePosition")); }
};

bool onScreen(const QWidget* w)
{
    return w->isVisible() && !w->testAttribute(Qt::WA_DontShowOnScreen);
}

QList<PlayVideoDialog*> videoDialogs()
{
    QList<PlayVideoDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<PlayVideoDialog*>(w))
            found << d;
    return found;
}

// What the host hook received: code and parameter.
QList<std::pair<qint64, qint64>> g_hookCalls;
void recordNotify(TAVI::_NOTIFY_PARAM* notify)
{
    g_hookCalls.append({ notify->code, notify->param });
}

} // namespace

class TestPlayVideoDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    // Not ASCII, so that the UTF-8 conversion shows.
    QString m_clip = m_dir.filePath(QStringLiteral("clip-Überwachung.mp4"));
    std::optional<FakeClientSdk> m_sdk;
    std::optional<SdkInstaller> m_installer;

    FakeStreamSdk& stream() { return m_sdk->stream; }

    std::optional<PlayVideoDialog> m_dialog;

    // The controls of a new dialog, shown and playing m_clip with handle 7;
    // the SDK's record starts afresh.
    Controls startPlaying()
    {
        m_dialog.emplace();
        m_dialog->show();
        m_dialog->LoadVideo(m_clip);
        stream().calls.clear();
        return { *m_dialog };
    }

    // Sound on through the speaker button and the delayed open.
    void soundOn(const Controls& c)
    {
        c.speaker->click();
        QTRY_COMPARE(stream().count("OpenSound"), 1);
        QVERIFY(c.showsSoundOn());
        stream().calls.clear();
    }

private slots:
    void initTestCase() { QVERIFY(TestSupport::writeFile(m_clip, "not decoded by the fake")); }

    void init()
    {
        m_sdk.emplace();
        m_installer.emplace(&*m_sdk);
        g_hookCalls.clear();
        TaviLogic::s_transmitNotify = recordNotify;
        TaviSim::clearLog();
    }

    void cleanup()
    {
        // Dialogs opened through the bridge close themselves; a failed test
        // must not leave one to the next.
        m_dialog.reset();
        qDeleteAll(videoDialogs());
        TaviLogic::s_transmitNotify = nullptr;
        m_installer.reset();
        m_sdk.reset();
    }

    void startOutcome_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("handle");
        QTest::addColumn<QString>("line"); // "%1": the window id when it plays
        QTest::newRow("handle 0 is valid") << 0 << 0 << "StartFilePlayback ok, handle=0, winId=%1";
        QTest::newRow("sdk refuses") << -5 << 3 << "StartFilePlayback failed: ret=-5";
        QTest::newRow("success without handle") << 0 << -1 << "StartFilePlayback failed: ret=0";
    }

    // The SDK draws into the video area's window, made before the dialog
    // comes on screen; it comes on screen either way.
    void startOutcome()
    {
        QFETCH(int, result);
        QFETCH(int, handle);
        QFETCH(QString, line);
        const bool plays = line.contains(QLatin1String("%1"));
        stream().startResult = result;
        stream().startHandle = handle;
        PlayVideoDialog dialog;
        Controls c { dialog };
        dialog.show();
        QVERIFY(!onScreen(&dialog));
        const WId wnd = dialog.findChild<QWidget*>(QStringLiteral("videoArea"))->winId();
        dialog.LoadVideo(m_clip);

        QCOMPARE(stream().calls.size(), 1);
        const FakeStreamCall start = stream().calls.first();
        QCOMPARE(start.op, QByteArray("StartFilePlayback"));
        QCOMPARE(start.path, m_clip.toUtf8());
        QVERIFY(wnd != 0 && start.wnd == wnd);
        QCOMPARE(std::make_pair(start.value, start.reserved), std::make_pair(-1, 0));
        QCOMPARE(TaviSim::logLines(),
                 QStringList({ "[PlayVideoDialog] LoadVideo: " + m_clip,
                               "[PlayVideoDialog] " + (plays ? line.arg(quint64(wnd)) : line) }));
        QVERIFY(onScreen(&dialog));
        QCOMPARE(c.poll->isActive(), plays);
        QCOMPARE(c.showsPause(), plays);
    }

    void nothingStarts_data()
    {
        QTest::addColumn<QString>("file"); // "{clip}": the clip
        QTest::addColumn<int>("sdk"); // 0 none, 1 without stream SDK, 2 complete
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file")
            << "/nonexistent/clip.mp4" << 2 << "file not exists: /nonexistent/clip.mp4";
        QTest::newRow("no client sdk") << "{clip}" << 0 << "stream sdk not available";
        QTest::newRow("no stream sdk") << "{clip}" << 1 << "stream sdk not available";
        // A path the module does not open (whatever the cause) is a file that
        // is not there.
        QTest::newRow("a NUL in the path")
            << QString("{clip}") + QChar(0) << 2 << "file not exists: {clip}\\x00";
    }

    // Nothing comes on screen when nothing can play; the window stays made,
    // off screen, until the next call closes it.
    void nothingStarts()
    {
        QFETCH(QString, file);
        QFETCH(int, sdk);
        QFETCH(QString, reason);
        file.replace("{clip}", m_clip);
        reason.replace("{clip}", m_clip);
        m_sdk->streamAvailable = sdk == 2;
        std::optional<SdkInstaller> none;
        if (sdk == 0)
            none.emplace(nullptr);
        CWebComm bridge;
        bridge.PlayVideoFile(file);

        const QString shown = QString(file).replace(QChar(0), "\\x00");
        QCOMPARE(
            TaviSim::logLines(),
            QStringList({ "[PlayVideoFile] called, file:" + shown,
                          "[PlayVideoFile] creating PlayVideoDialog",
                          "[PlayVideoFile] calling LoadVideo with file:" + shown,
                          "[PlayVideoDialog] LoadVideo: " + shown, "[PlayVideoDialog] " + reason,
                          "[PlayVideoFile] LoadVideo returned" }));
        QVERIFY(stream().calls.isEmpty());
        QCOMPARE(videoDialogs().size(), 1);
        const QPointer<PlayVideoDialog> offScreen = videoDialogs().first();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(offScreen && offScreen->isVisible() && !onScreen(offScreen));

        bridge.PlayVideoFile(file);
        QTRY_VERIFY(offScreen.isNull());
        QCOMPARE(videoDialogs().size(), 1);
    }

    // A window left off screen lets the host quit when its own last window
    // closes, as Qt's applications do by default.
    void offScreenWindowLetsTheHostQuit()
    {
        QWidget hostWindow;
        hostWindow.show();
        CWebComm bridge;
        bridge.PlayVideoFile(QString());
        QCOMPARE(videoDialogs().size(), 1);
        QTimer::singleShot(0, &hostWindow, &QWidget::close);
        QTimer stuck; // the host would keep running
        stuck.setSingleShot(true);
        connect(&stuck, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        stuck.start(10000);
        QCOMPARE(QApplication::exec(), 0);
    }

    void sliderFollowsPollsAndSeeksOnUserMoves()
    {
        Controls c = startPlaying();
        const int initialMax = c.slider->maximum();

        // No length yet: the value follows, the range stays, no end is seen.
        stream().position = 30;
        c.tick();
        QCOMPARE(std::make_pair(c.slider->maximum(), c.slider->value()),
                 std::make_pair(initialMax, 30));
        stream().position = 1200;
        stream().length = 8000;
        c.tick();
        QCOMPARE(std::make_pair(c.slider->maximum(), c.slider->value()),
                 std::make_pair(8000, 1200));
        // A failed query leaves everything as it was.
        stream().posResult = -1;
        stream().position = 4000;
        c.tick();
        QCOMPARE(c.slider->value(), 1200);
        // Polling and setting the value neither stop nor seek.
        c.slider->setValue(3000);
        QCOMPARE(stream().ops(), QList<QByteArray>(3, "GetFilePlaybackPos"));

        // The user's moves seek; a poll during a drag leaves the handle where
        // the user holds it.
        stream().posResult = 0;
        stream().position = 2000;
        c.drag(4321);
        c.drag(6000, false);
        c.tick();
        QCOMPARE(c.slider->sliderPosition(), 6000);
        c.slider->setSliderDown(false);
        c.tick();
        QCOMPARE(c.slider->value(), 2000);
        QVERIFY(c.poll->isActive());
        QList<int> seeks;
        for (const FakeStreamCall& call : stream().calls) {
            QCOMPARE(call.handle, 7);
            if (call.op == "SeekFilePlayback")
                seeks << call.value;
        }
        QCOMPARE(seeks, QList<int>({ 4321, 6000 }));
    }

    // The play button pauses and resumes (the poll goes on), does nothing
    // without the SDK, and replays after the end of the file, which stops the
    // playback and its sound.
    void playButtonAndEndOfFile()
    {
        Controls c = startPlaying();
        c.play->click();
        QVERIFY(!c.showsPause() && c.poll->isActive());
        c.play->click();
        m_sdk->streamAvailable = false;
        c.play->click();
        QCOMPARE(stream().ops(), QList<QByteArray>({ "PauseFilePlayback", "ResumeFilePlayback" }));
        QVERIFY(c.showsPause());
        m_sdk->streamAvailable = true;
        soundOn(c);
        c.popup->show();

        stream().position = stream().length = 5000;
        c.tick();
        QCOMPARE(stream().ops(),
                 QList<QByteArray>({ "GetFilePlaybackPos", "CloseSound", "StopFilePlayback" }));
        QVERIFY(!c.poll->isActive() && c.popup->isHidden() && !c.showsSoundOn() && !c.showsPause());
        QCOMPARE(std::make_pair(c.slider->maximum(), c.slider->value()),
                 std::make_pair(5000, 5000));
        // Idle: no playback to seek in, no sound to switch.
        c.drag(100);
        c.speaker->click();
        QCOMPARE(stream().calls.size(), 3);
        QCOMPARE(g_hookCalls.size(), 1);

        stream().startHandle = 8;
        c.play->click();
        QCOMPARE(stream().calls.size(), 4);
        QCOMPARE(stream().calls.last().path, m_clip.toUtf8());
        QVERIFY(c.poll->isActive() && c.showsPause());
        for (const FakeStreamCall& call : stream().calls.mid(0, 3))
            QCOMPARE(call.handle, 7);
    }

    void soundOpensLater_data()
    {
        QTest::addColumn<int>("openResult");
        QTest::addColumn<bool>("hook");
        QTest::newRow("any result but -1 opens") << 4 << true;
        QTest::newRow("without host hook") << 0 << false;
        QTest::newRow("sdk cannot open") << -1 << true;
    }

    // The popup at once; the host hears first, the SDK only later.
    void soundOpensLater()
    {
        QFETCH(int, openResult);
        QFETCH(bool, hook);
        const bool opened = openResult != -1;
        if (!hook)
            TaviLogic::s_transmitNotify = nullptr;
        stream().openSoundResult = openResult;
        Controls c = startPlaying();
        TaviSim::clearLog();

        c.speaker->click();
        QVERIFY(c.popup->isVisible());
        QCOMPARE(g_hookCalls,
                 (hook ? QList<std::pair<qint64, qint64>> { { 59, 0 } }
                       : QList<std::pair<qint64, qint64>>()));
        QCOMPARE(stream().count("OpenSound"), 0);
        QVERIFY(!c.showsSoundOn());

        QTRY_COMPARE(stream().count("OpenSound"), 1);
        QCOMPARE(stream().calls.last().handle, 7);
        QStringList lines {
            QStringLiteral("[PlayVideoDialog] OpenSound ret=%1, handle=7").arg(openResult)
        };
        if (!opened)
            lines << QStringLiteral(
                "[PlayVideoDialog] OpenSound failed (ret=-1) - 可能音频设备仍被占用或视频无音轨");
        QCOMPARE(TaviSim::logLines(), lines);
        QCOMPARE(c.showsSoundOn(), opened);

        // On: the speaker closes it. Off after a failure: the speaker tries again.
        stream().calls.clear();
        TaviSim::clearLog();
        c.speaker->click();
        if (opened) {
            QCOMPARE(stream().ops(), QList<QByteArray>({ "CloseSound" }));
            QCOMPARE(TaviSim::logLines(), QStringList({ "[PlayVideoDialog] CloseSound ret=0" }));
            QVERIFY(!c.showsSoundOn() && c.popup->isHidden());
        } else {
            QTRY_COMPARE(stream().count("OpenSound"), 1);
        }
    }

    void soundShotDroppedWhenPlaybackEnds()
    {
        Controls c = startPlaying();
        c.speaker->click();
        stream().position = stream().length = 100;
        c.tick(); // the end, before the delayed open
        QTest::qWait(700);
        QCOMPARE(stream().count("OpenSound"), 0);
        QVERIFY(!c.showsSoundOn());
    }

    // Only the step between silent and audible reaches the SDK.
    void volumePopupSwitchesSound()
    {
        Controls c = startPlaying();
        soundOn(c);
        c.popup->slider()->setValue(35);
        QVERIFY(stream().calls.isEmpty());
        c.popup->slider()->setValue(0);
        QCOMPARE(stream().ops(), QList<QByteArray>({ "CloseSound" }));
        QVERIFY(!c.showsSoundOn());
        c.popup->slider()->setValue(40);
        QCOMPARE(g_hookCalls.size(), 2);
        QCOMPARE(stream().count("OpenSound"), 0);
        QTRY_COMPARE(stream().count("OpenSound"), 1);
        QVERIFY(c.showsSoundOn());
    }

    // The window's keys, sent where the focus is: on the window as it opens,
    // or on the control Tab has reached. A focused button keeps Space and
    // Enter; every other key is the window's.
    void keys_data()
    {
        QTest::addColumn<QString>("focus"); // object name; empty: the window
        QTest::addColumn<int>("start"); // position before the key, of 60000
        QTest::addColumn<QKeyCombination>("key");
        QTest::addColumn<QString>("outcome"); // SDK calls, or "closed"
        const auto add
            = [](const char* name, const char* focus, int start, QKeyCombination key,
                 const char* outcome) { QTest::newRow(name) << focus << start << key << outcome; };
        add("Space pauses", "", 0, Qt::Key_Space, "PauseFilePlayback");
        add("Space on the play button", "playPauseButton", 0, Qt::Key_Space, "PauseFilePlayback");
        add("Enter on the play button", "playPauseButton", 0, Qt::Key_Return, "PauseFilePlayback");
        add("Right seeks 5 s", "", 20000, Qt::Key_Right, "SeekFilePlayback 25000");
        add("Right on the slider", "positionSlider", 20000, Qt::Key_Right,
            "SeekFilePlayback 25000");
        add("Left seeks back 5 s", "", 20000, Qt::Key_Left, "SeekFilePlayback 15000");
        add("Left stops at the start", "", 2000, Qt::Key_Left, "SeekFilePlayback 0");
        add("Home", "speakerButton", 20000, Qt::Key_Home, "SeekFilePlayback 0");
        add("End", "", 20000, Qt::Key_End, "SeekFilePlayback 60000");
        add("Escape closes", "positionSlider", 0, Qt::Key_Escape, "closed");
        add("a host's shortcut passes", "", 20000, Qt::CTRL | Qt::Key_Right, "");
    }

    void keys()
    {
        QFETCH(QString, focus);
        QFETCH(int, start);
        QFETCH(QKeyCombination, key);
        QFETCH(QString, outcome);
        Controls c = startPlaying();
        stream().length = 60000;
        stream().position = start;
        c.tick();
        // The window takes the focus itself as it opens, no control does.
        QVERIFY(QTest::qWaitForWindowActive(&c.dialog));
        QCOMPARE(QApplication::focusWidget(), &c.dialog);
        if (!focus.isEmpty())
            c.dialog.findChild<QWidget*>(focus)->setFocus(Qt::TabFocusReason);

        stream().calls.clear(); // the key's calls only, none of the poll
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
        QStringList seen;
        for (const FakeStreamCall& call : stream().calls)
            seen << (call.op == "SeekFilePlayback"
                         ? QStringLiteral("%1 %2").arg(call.op).arg(call.value)
                         : QString::fromLatin1(call.op));
        if (!c.dialog.isVisible())
            seen << QStringLiteral("closed");
        QCOMPARE(seen.join(','), outcome);
    }

    // M turns the sound on (after the host's notice) and off again, as the
    // speaker button does. (Space again resumes as the play button does:
    // playButtonAndEndOfFile.)
    void keysToggle()
    {
        Controls c = startPlaying();
        QVERIFY(QTest::qWaitForWindowActive(&c.dialog));
        QTest::keyClick(&c.dialog, Qt::Key_M);
        QCOMPARE(g_hookCalls, (QList<std::pair<qint64, qint64>> { { 59, 0 } }));
        QTRY_VERIFY(c.showsSoundOn());
        QTest::keyClick(&c.dialog, Qt::Key_M);
        QList<QByteArray> ops = stream().ops();
        ops.removeAll("GetFilePlaybackPos"); // the poll goes on meanwhile
        QCOMPARE(ops, QList<QByteArray>({ "OpenSound", "CloseSound" }));
        QVERIFY(!c.showsSoundOn());
    }

    // Tab walks play, sound, position and close, and back; the control that
    // has the focus wears a frame in the skin's text colour, the others none.
    void tabWalksControlsWithFocusFrame()
    {
        QWidget& dialog = startPlaying().dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        const QColor frame = QColor::fromString(taviSkinMgr()->oneLevelTextColor());
        const QStringList order = { "playPauseButton", "speakerButton", "positionSlider",
                                    "closeButton", "playPauseButton" };
        for (const QString& name : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            QCOMPARE(focused->objectName(), name);
            QVERIFY2(TestSupport::edgeShare(focused, frame) > 0.6, qPrintable(name));
            for (const char* other : { "playPauseButton", "speakerButton", "closeButton" })
                if (name != QLatin1String(other))
                    QVERIFY2(TestSupport::edgeShare(dialog.findChild<QWidget*>(other), frame) < 0.2,
                             other);
        }
        // A mouse user's click leaves no frame behind.
        dialog.setFocus();
        auto* play = dialog.findChild<QPushButton*>("playPauseButton");
        QTest::mouseClick(play, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), &dialog);
        QVERIFY(TestSupport::edgeShare(play, frame) < 0.2);
    }

    // Every control has a name a screen reader can say; play and sound are
    // named after what they do next.
    void accessibleNames()
    {
        Controls c = startPlaying();
        QCOMPARE(TestSupport::unnamedControls(&c.dialog), QStringList());
        QCOMPARE(c.play->accessibleName(), QStringLiteral("Pause"));
        QCOMPARE(c.speaker->accessibleName(), QStringLiteral("Turn sound on"));
        c.play->click();
        QCOMPARE(c.play->accessibleName(), QStringLiteral("Play"));
        soundOn(c);
        QCOMPARE(c.speaker->accessibleName(), QStringLiteral("Turn sound off"));
    }

    void secondVideoReplacesFirst()
    {
        const QString second = m_dir.filePath(QStringLiteral("second.mp4"));
        QVERIFY(QFile::exists(second) || QFile::copy(m_clip, second));
        CWebComm bridge;
        stream().startHandle = 1;
        bridge.PlayVideoFile(m_clip);
        QPointer<PlayVideoDialog> first = videoDialogs().value(0);
        QVERIFY(first);

        stream().startHandle = 2;
        bridge.PlayVideoFile(second);
        // The first stops only after the second has started.
        QCOMPARE(stream().ops(), QList<QByteArray>({ "StartFilePlayback", "StartFilePlayback" }));
        QCOMPARE(stream().calls.at(1).path, second.toUtf8());
        QVERIFY(first && !first->isVisible());
        QTRY_VERIFY(first.isNull());
        QCOMPARE(stream().ops().last(), QByteArray("StopFilePlayback"));
        QCOMPARE(stream().calls.last().handle, 1);
        QCOMPARE(videoDialogs().size(), 1);
        QPointer<PlayVideoDialog> current = videoDialogs().first();

        // The bridge still names the second: a third call closes it.
        stream().startHandle = 3;
        bridge.PlayVideoFile(m_clip);
        QTRY_VERIFY(current.isNull());
        QCOMPARE(stream().calls.last().op, QByteArray("StopFilePlayback"));
        QCOMPARE(stream().calls.last().handle, 2);

        // Closed by the user, the dialog stops its playback and leaves the
        // bridge with nothing to close.
        QPointer<PlayVideoDialog> third = videoDialogs().first();
        stream().calls.clear();
        third->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
        QTRY_VERIFY(third.isNull());
        QCOMPARE(stream().ops(), QList<QByteArray>({ "StopFilePlayback" }));
        QCOMPARE(stream().calls.last().handle, 3);
        stream().calls.clear();
        {
            CWebComm page;
            page.PlayVideoFile(m_clip);
            QCOMPARE(stream().ops(), QList<QByteArray>({ "StartFilePlayback" }));
        }
        // A page's window goes with its bridge.
        QTRY_VERIFY(videoDialogs().isEmpty());
        QCOMPARE(stream().ops().last(), QByteArray("StopFilePlayback"));
    }
};

QTEST_MAIN(TestPlayVideoDialog)
#include "tst_playvideodialog.moc"
