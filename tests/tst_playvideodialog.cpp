// The video playback dialog against a recording stream SDK, and the bridge's
// PlayVideoFile that opens it.

#include "FakeSdk.h"

#include <PlayVideoDialog.h>
#include <SkinMgr.h>
#include <TaviLogic.h>
#include <TaviSim.h>
#include <VolumeMenu.h>
#include <WebComm.h>

#include <QtCore/QPointer>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtGui/QCursor>
#include <QtGui/QEnterEvent>
#include <QtGui/QIcon>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>

#include <optional>

namespace {

struct Parts
{
    QPushButton* play = nullptr;
    QPushButton* speaker = nullptr;
    QSlider* slider = nullptr;
    VolumeMenu* popup = nullptr;
    QTimer* poll = nullptr;
};

Parts partsOf(QWidget& dialog)
{
    Parts p;
    p.play = dialog.findChild<QPushButton*>(QStringLiteral("playPauseButton"));
    p.speaker = dialog.findChild<QPushButton*>(QStringLiteral("speakerButton"));
    p.slider = dialog.findChild<QSlider*>(QStringLiteral("positionSlider"));
    p.popup = dialog.findChild<VolumeMenu*>();
    p.poll = dialog.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    return p;
}

bool onScreen(const QWidget* w)
{
    return w->isVisible() && !w->testAttribute(Qt::WA_DontShowOnScreen);
}

// The play button offers "pause" only while a playback runs unpaused.
bool showsPause(const QPushButton* play)
{
    return play->styleSheet().contains(QLatin1String("replay_play_pause.png"));
}

bool speakerShows(QPushButton* speaker, const char* file)
{
    const QIcon expected(
        taviSkinMgr()->getPixmap("PlayView", QString::fromLatin1(file), QSize(-1, -1), -1, -1));
    return speaker->icon().pixmap(QSize(20, 20)).toImage()
        == expected.pixmap(QSize(20, 20)).toImage();
}

void tick(QWidget& dialog)
{
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onUpdatePosition"));
}

// A drag of the slider's handle by the user, released at value unless held.
void drag(QSlider* slider, int value, bool release = true)
{
    slider->setSliderDown(true);
    slider->setSliderPosition(value);
    slider->setSliderDown(!release);
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
    QString m_clip;
    std::optional<FakeClientSdk> m_sdk;
    std::optional<SdkInstaller> m_installer;

    FakeStreamSdk& stream() { return m_sdk->stream; }

    // The parts of dialog, shown and playing m_clip with handle 7; the SDK's
    // record starts afresh.
    Parts startPlaying(PlayVideoDialog& dialog)
    {
        dialog.show();
        dialog.LoadVideo(m_clip);
        stream().calls.clear();
        return partsOf(dialog);
    }

    // Sound on through the speaker button and the delayed open.
    void soundOn(PlayVideoDialog& dialog)
    {
        const Parts p = partsOf(dialog);
        p.speaker->click();
        QTRY_COMPARE(stream().count("OpenSound"), 1);
        QVERIFY(speakerShows(p.speaker, "icon_volume_open.png"));
        stream().calls.clear();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Not ASCII, so that the UTF-8 conversion shows.
        m_clip = m_dir.filePath(QStringLiteral("clip-Überwachung.mp4"));
        QFile file(m_clip);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not decoded by the fake");
    }

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
        for (PlayVideoDialog* d : videoDialogs())
            delete d;
        TaviLogic::s_transmitNotify = nullptr;
        m_installer.reset();
        m_sdk.reset();
    }

    void startOutcome_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("handle");
        QTest::addColumn<QString>("line"); // "%1": the window id when it plays
        QTest::newRow("started") << 0 << 7 << "StartFilePlayback ok, handle=7, winId=%1";
        QTest::newRow("handle 0 is valid") << 0 << 0 << "StartFilePlayback ok, handle=0, winId=%1";
        QTest::newRow("sdk refuses") << -5 << 3 << "StartFilePlayback failed: ret=-5";
        QTest::newRow("success without handle") << 0 << -1 << "StartFilePlayback failed: ret=0";
    }

    void startOutcome()
    {
        QFETCH(int, result);
        QFETCH(int, handle);
        QFETCH(QString, line);
        const bool plays = line.contains(QLatin1String("%1"));
        stream().startResult = result;
        stream().startHandle = handle;

        PlayVideoDialog dialog;
        const Parts p = partsOf(dialog);
        dialog.show();
        QVERIFY(!onScreen(&dialog));
        const WId wnd = dialog.findChild<QWidget*>(QStringLiteral("videoArea"))->winId();
        QVERIFY(wnd != 0);
        dialog.LoadVideo(m_clip);

        QCOMPARE(stream().calls.size(), 1);
        const FakeStreamCall start = stream().calls.first();
        QCOMPARE(start.op, QByteArray("StartFilePlayback"));
        QCOMPARE(start.path, m_clip.toUtf8());
        QCOMPARE(start.wnd, wnd);
        QCOMPARE(start.value, -1); // the handle is preset
        QCOMPARE(start.reserved, 0);
        QCOMPARE(TaviSim::logLines(),
            QStringList({ "[PlayVideoDialog] LoadVideo: " + m_clip,
                "[PlayVideoDialog] " + (plays ? line.arg(quint64(wnd)) : line) }));
        QVERIFY(onScreen(&dialog));
        QCOMPARE(p.poll->isActive(), plays);
        QCOMPARE(showsPause(p.play), plays);
    }

    void nothingStarts_data()
    {
        QTest::addColumn<QString>("file"); // empty: the clip
        QTest::addColumn<int>("sdk"); // 0 none, 1 without stream SDK, 2 complete
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file")
            << "/nonexistent/clip.mp4" << 2 << "file not exists: /nonexistent/clip.mp4";
        QTest::newRow("no client sdk") << "" << 0 << "stream sdk not available";
        QTest::newRow("no stream sdk") << "" << 1 << "stream sdk not available";
    }

    void nothingStarts()
    {
        QFETCH(QString, file);
        QFETCH(int, sdk);
        QFETCH(QString, reason);
        if (file.isEmpty())
            file = m_clip;
        m_sdk->streamAvailable = sdk == 2;
        std::optional<SdkInstaller> none;
        if (sdk == 0)
            none.emplace(nullptr);

        CWebComm bridge;
        bridge.PlayVideoFile(file);

        QCOMPARE(TaviSim::logLines(),
            QStringList({ "[PlayVideoFile] called, file:" + file,
                "[PlayVideoFile] creating PlayVideoDialog",
                "[PlayVideoFile] calling LoadVideo with file:" + file,
                "[PlayVideoDialog] LoadVideo: " + file, "[PlayVideoDialog] " + reason,
                "[PlayVideoFile] LoadVideo returned" }));
        QVERIFY(stream().calls.isEmpty());
        QCOMPARE(videoDialogs().size(), 1);
        QVERIFY(videoDialogs().first()->isVisible() && !onScreen(videoDialogs().first()));
    }

    void sliderFollowsPollsAndSeeksOnUserMoves()
    {
        PlayVideoDialog dialog;
        const Parts p = startPlaying(dialog);
        const int initialMax = p.slider->maximum();

        // No length yet: the value follows, the range stays, no end is seen.
        stream().position = 30;
        tick(dialog);
        QCOMPARE(p.slider->maximum(), initialMax);
        QCOMPARE(p.slider->value(), 30);

        stream().position = 1200;
        stream().length = 8000;
        tick(dialog);
        QCOMPARE(p.slider->maximum(), 8000);
        QCOMPARE(p.slider->value(), 1200);

        // A failed query leaves everything as it was.
        stream().posResult = -1;
        stream().position = 4000;
        tick(dialog);
        QCOMPARE(p.slider->value(), 1200);
        // Polling and setting the value neither stop nor seek.
        p.slider->setValue(3000);
        QCOMPARE(stream().ops(), QList<QByteArray>(3, "GetFilePlaybackPos"));

        // The user's moves seek; a poll during a drag leaves the handle where
        // the user holds it.
        stream().posResult = 0;
        stream().position = 2000;
        drag(p.slider, 4321);
        drag(p.slider, 6000, false);
        tick(dialog);
        QCOMPARE(p.slider->sliderPosition(), 6000);
        p.slider->setSliderDown(false);
        tick(dialog);
        QCOMPARE(p.slider->value(), 2000);
        QVERIFY(p.poll->isActive());
        QList<int> seeks;
        for (const FakeStreamCall& c : stream().calls) {
            QCOMPARE(c.handle, 7);
            if (c.op == "SeekFilePlayback")
                seeks << c.value;
        }
        QCOMPARE(seeks, QList<int>({ 4321, 6000 }));
    }

    void endOfFileAndReplay()
    {
        PlayVideoDialog dialog;
        const Parts p = startPlaying(dialog);
        soundOn(dialog);
        p.popup->show();

        stream().position = stream().length = 5000;
        tick(dialog);
        QCOMPARE(stream().ops(),
            QList<QByteArray>({ "GetFilePlaybackPos", "CloseSound", "StopFilePlayback" }));
        QCOMPARE(stream().calls.at(2).handle, 7);
        QVERIFY(!p.poll->isActive());
        QCOMPARE(p.slider->value(), 5000);
        QCOMPARE(p.slider->maximum(), 5000);
        QVERIFY(p.popup->isHidden());
        QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));
        QVERIFY(!showsPause(p.play));

        // Idle: no playback to seek in, no sound to switch.
        drag(p.slider, 100);
        p.speaker->click();
        QCOMPARE(stream().calls.size(), 3);
        QCOMPARE(g_hookCalls.size(), 1);

        stream().startHandle = 8;
        p.play->click();
        QCOMPARE(stream().calls.size(), 4);
        QCOMPARE(stream().calls.last().op, QByteArray("StartFilePlayback"));
        QCOMPARE(stream().calls.last().path, m_clip.toUtf8());
        QVERIFY(p.poll->isActive());
        QVERIFY(showsPause(p.play));
    }

    void pauseAndResume()
    {
        PlayVideoDialog dialog;
        const Parts p = startPlaying(dialog);

        p.play->click();
        QVERIFY(!showsPause(p.play));
        QVERIFY(p.poll->isActive()); // still polling while paused
        p.play->click();
        QCOMPARE(stream().ops(), QList<QByteArray>({ "PauseFilePlayback", "ResumeFilePlayback" }));
        QCOMPARE(stream().calls.last().handle, 7);
        QVERIFY(showsPause(p.play));

        // Without the SDK the button does nothing at all.
        m_sdk->streamAvailable = false;
        p.play->click();
        QCOMPARE(stream().calls.size(), 2);
        QVERIFY(showsPause(p.play));
    }

    void soundOpensLater_data()
    {
        QTest::addColumn<int>("openResult");
        QTest::addColumn<bool>("hook");
        QTest::newRow("opened") << 0 << true;
        QTest::newRow("any result but -1 opens") << 4 << true;
        QTest::newRow("without host hook") << 0 << false;
        QTest::newRow("sdk cannot open") << -1 << true;
    }

    void soundOpensLater()
    {
        QFETCH(int, openResult);
        QFETCH(bool, hook);
        const bool opened = openResult != -1;
        if (!hook)
            TaviLogic::s_transmitNotify = nullptr;
        stream().openSoundResult = openResult;
        PlayVideoDialog dialog;
        const Parts p = startPlaying(dialog);
        TaviSim::clearLog();

        p.speaker->click();
        // The popup at once; the host hears first, the SDK only later.
        QVERIFY(p.popup->isVisible());
        QCOMPARE(g_hookCalls.size(), hook ? 1 : 0);
        if (hook)
            QCOMPARE(g_hookCalls.first(), std::make_pair(qint64(59), qint64(0)));
        QCOMPARE(stream().count("OpenSound"), 0);
        QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));

        QTRY_COMPARE(stream().count("OpenSound"), 1);
        QCOMPARE(stream().calls.last().handle, 7);
        QStringList lines {
            QStringLiteral("[PlayVideoDialog] OpenSound ret=%1, handle=7").arg(openResult)
        };
        if (!opened)
            lines << QStringLiteral(
                "[PlayVideoDialog] OpenSound failed (ret=-1) - 可能音频设备仍被占用或视频无音轨");
        QCOMPARE(TaviSim::logLines(), lines);
        QCOMPARE(speakerShows(p.speaker, "icon_volume_open.png"), opened);

        // On: the speaker closes it. Off after a failure: the speaker tries again.
        stream().calls.clear();
        TaviSim::clearLog();
        p.speaker->click();
        if (opened) {
            QCOMPARE(stream().ops(), QList<QByteArray>({ "CloseSound" }));
            QCOMPARE(TaviSim::logLines(), QStringList({ "[PlayVideoDialog] CloseSound ret=0" }));
            QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));
            QVERIFY(p.popup->isHidden());
        } else {
            QTRY_COMPARE(stream().count("OpenSound"), 1);
        }
    }

    void soundShotDroppedWhenPlaybackEnds()
    {
        PlayVideoDialog dialog;
        const Parts p = startPlaying(dialog);
        p.speaker->click();
        stream().position = stream().length = 100;
        tick(dialog); // the end, before the delayed open
        QTest::qWait(700);
        QCOMPARE(stream().count("OpenSound"), 0);
        QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));
    }

    void volumePopupSwitchesSound()
    {
        PlayVideoDialog dialog;
        const Parts p = startPlaying(dialog);
        soundOn(dialog);

        p.popup->slider()->setValue(35); // audible to audible: nothing
        QVERIFY(stream().calls.isEmpty());
        p.popup->slider()->setValue(0);
        QCOMPARE(stream().ops(), QList<QByteArray>({ "CloseSound" }));
        QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));

        p.popup->slider()->setValue(40);
        QCOMPARE(g_hookCalls.size(), 2);
        QCOMPARE(stream().count("OpenSound"), 0);
        QTRY_COMPARE(stream().count("OpenSound"), 1);
        QVERIFY(speakerShows(p.speaker, "icon_volume_open.png"));
    }

    void popupCentredAboveSpeakerAndHover()
    {
        PlayVideoDialog dialog;
        dialog.move(150, 90);
        const Parts p = startPlaying(dialog);
        const QPoint inside(5, 5);
        QEnterEvent enter(inside, inside, p.speaker->mapToGlobal(inside));
        QEvent leave(QEvent::Leave);

        // Entering while the sound is off shows nothing.
        QApplication::sendEvent(p.speaker, &enter);
        QVERIFY(p.popup->isHidden());

        soundOn(dialog);
        p.popup->hide();
        QApplication::sendEvent(p.speaker, &enter);
        QVERIFY(p.popup->isVisible());
        const QPoint corner = p.speaker->mapToGlobal(QPoint(0, 0));
        QCOMPARE(p.popup->pos(),
            QPoint(corner.x() - p.popup->width() / 2 + p.speaker->width() / 2,
                corner.y() - p.popup->height()));

        // Leaving towards the popup keeps it; leaving the popup hides it.
        QCursor::setPos(p.popup->mapToGlobal(p.popup->rect().center()));
        QApplication::sendEvent(p.speaker, &leave);
        QVERIFY(p.popup->isVisible());
        QApplication::sendEvent(p.popup, &leave);
        QVERIFY(p.popup->isHidden());

        QApplication::sendEvent(p.speaker, &enter);
        QCursor::setPos(p.speaker->mapToGlobal(QPoint(200, 200)));
        QApplication::sendEvent(p.speaker, &leave);
        QVERIFY(p.popup->isHidden());
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
        bridge.PlayVideoFile(m_clip);
        QCOMPARE(stream().ops(), QList<QByteArray>({ "StartFilePlayback" }));
    }
};

QTEST_MAIN(TestPlayVideoDialog)
#include "tst_playvideodialog.moc"
