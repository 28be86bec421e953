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
    QPushButton* close = nullptr;
    QSlider* slider = nullptr;
    QWidget* video = nullptr;
    VolumeMenu* popup = nullptr;
    QTimer* poll = nullptr;
};

Parts partsOf(QWidget& dialog)
{
    Parts p;
    p.play = dialog.findChild<QPushButton*>(QStringLiteral("playPauseButton"));
    p.speaker = dialog.findChild<QPushButton*>(QStringLiteral("speakerButton"));
    p.close = dialog.findChild<QPushButton*>(QStringLiteral("closeButton"));
    p.slider = dialog.findChild<QSlider*>(QStringLiteral("positionSlider"));
    p.video = dialog.findChild<QWidget*>(QStringLiteral("videoArea"));
    p.popup = dialog.findChild<VolumeMenu*>();
    p.poll = dialog.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    return p;
}

bool onScreen(const QWidget* w)
{
    return w->isVisible() && !w->testAttribute(Qt::WA_DontShowOnScreen);
}

QString playIconSheet(bool pauseIcon)
{
    return taviSkinMgr()->patchSkinPaths(pauseIcon
            ? QStringLiteral(
                "border-image:url(./skin/client/default/NvrPlayPage/replay_play_pause.png);")
            : QStringLiteral(
                "border-image:url(./skin/client/default/NvrPlayPage/replay_play.png);"));
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

QList<PlayVideoDialog*> videoDialogs()
{
    QList<PlayVideoDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<PlayVideoDialog*>(w))
            found << d;
    return found;
}

// The host hook records the code, the parameter and how many sounds had been
// opened when it ran.
struct HookCall
{
    qint64 code;
    qint64 param;
    int opensBefore;
};
FakeStreamSdk* g_stream = nullptr;
QList<HookCall> g_hookCalls;
void recordNotify(TAVI::_NOTIFY_PARAM* notify)
{
    g_hookCalls.append(
        { notify->code, notify->param, g_stream ? g_stream->count("OpenSound") : -1 });
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

    // A dialog playing m_clip with handle 7.
    void startPlaying(PlayVideoDialog& dialog)
    {
        dialog.show();
        dialog.LoadVideo(m_clip);
        QCOMPARE(stream().count("StartFilePlayback"), 1);
        stream().calls.clear();
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
        g_stream = &m_sdk->stream;
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
        g_stream = nullptr;
        m_installer.reset();
        m_sdk.reset();
    }

    void constructionLook()
    {
        PlayVideoDialog dialog;
        const Parts p = partsOf(dialog);
        QVERIFY(p.play && p.speaker && p.close && p.slider && p.video && p.popup && p.poll);
        QCOMPARE(dialog.windowFlags()
                & (Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
            Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        QVERIFY(dialog.testAttribute(Qt::WA_DontShowOnScreen));
        QCOMPARE(dialog.size(), QSize(800, 600));
        QVERIFY(p.video->testAttribute(Qt::WA_NativeWindow));
        QCOMPARE(p.play->size(), QSize(20, 20));
        QCOMPARE(p.speaker->size(), QSize(20, 20));
        QCOMPARE(p.close->size(), QSize(25, 25));
        QCOMPARE(p.slider->orientation(), Qt::Horizontal);
        QCOMPARE(p.play->styleSheet(), playIconSheet(false));
        QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));
        QVERIFY(!speakerShows(p.speaker, "icon_volume_open.png"));
        QCOMPARE(p.poll->interval(), 500);
        QVERIFY(!p.poll->isActive());
        QVERIFY(p.popup->windowFlags().testFlag(Qt::Tool));
        QVERIFY(p.popup->isHidden());
        QVERIFY(stream().calls.isEmpty());
    }

    void startOutcome_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("handle");
        QTest::addColumn<bool>("plays");
        QTest::addColumn<QString>("line");
        QTest::newRow("started") << 0 << 7 << true
                                 << "[PlayVideoDialog] StartFilePlayback ok, handle=7, winId=%1";
        QTest::newRow("handle 0 is valid")
            << 0 << 0 << true << "[PlayVideoDialog] StartFilePlayback ok, handle=0, winId=%1";
        QTest::newRow("sdk refuses")
            << -5 << 3 << false << "[PlayVideoDialog] StartFilePlayback failed: ret=-5";
        QTest::newRow("success without handle")
            << 0 << -1 << false << "[PlayVideoDialog] StartFilePlayback failed: ret=0";
    }

    void startOutcome()
    {
        QFETCH(int, result);
        QFETCH(int, handle);
        QFETCH(bool, plays);
        QFETCH(QString, line);
        stream().startResult = result;
        stream().startHandle = handle;

        PlayVideoDialog dialog;
        const Parts p = partsOf(dialog);
        dialog.show();
        QVERIFY(!onScreen(&dialog));
        const WId wnd = p.video->winId();
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
                line.contains("%1") ? line.arg(quint64(wnd)) : line }));
        QVERIFY(onScreen(&dialog));
        QCOMPARE(p.poll->isActive(), plays);
        QCOMPARE(p.play->styleSheet(), playIconSheet(plays));

        // From Idle the play button tries the same file again.
        p.play->click();
        if (plays) {
            QCOMPARE(stream().ops().mid(1), QList<QByteArray>({ "PauseFilePlayback" }));
        } else {
            QCOMPARE(stream().count("StartFilePlayback"), 2);
            QCOMPARE(stream().calls.last().path, m_clip.toUtf8());
        }
    }

    void nothingStarts_data()
    {
        QTest::addColumn<QString>("file"); // "%1": the clip
        QTest::addColumn<int>("sdk"); // 0 none, 1 without stream SDK, 2 complete
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << "/nonexistent/clip.mp4" << 2
                                      << "[PlayVideoDialog] file not exists: /nonexistent/clip.mp4";
        QTest::newRow("empty path") << "" << 2 << "[PlayVideoDialog] file not exists: ";
        QTest::newRow("no client sdk") << "%1" << 0 << "[PlayVideoDialog] stream sdk not available";
        QTest::newRow("no stream sdk") << "%1" << 1 << "[PlayVideoDialog] stream sdk not available";
    }

    void nothingStarts()
    {
        QFETCH(QString, file);
        QFETCH(int, sdk);
        QFETCH(QString, reason);
        if (file == QLatin1String("%1"))
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
                "[PlayVideoDialog] LoadVideo: " + file, reason,
                "[PlayVideoFile] LoadVideo returned" }));
        QVERIFY(stream().calls.isEmpty());
        const QList<PlayVideoDialog*> dialogs = videoDialogs();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->isVisible());
        QVERIFY(!onScreen(dialogs.first()));
        QVERIFY(dialogs.first()->testAttribute(Qt::WA_DeleteOnClose));
    }

    void pollingFollowsTheSdk()
    {
        PlayVideoDialog dialog;
        startPlaying(dialog);
        const Parts p = partsOf(dialog);
        const int initialMax = p.slider->maximum();

        // No length yet: the range stays, the end is never seen.
        stream().position = 30;
        stream().length = 0;
        tick(dialog);
        QCOMPARE(p.slider->maximum(), initialMax);
        QCOMPARE(p.slider->value(), 30);

        stream().position = 1200;
        stream().length = 8000;
        tick(dialog);
        QCOMPARE(p.slider->minimum(), 0);
        QCOMPARE(p.slider->maximum(), 8000);
        QCOMPARE(p.slider->value(), 1200);

        // A failed query leaves everything as it was.
        stream().posResult = -1;
        stream().position = 4000;
        tick(dialog);
        QCOMPARE(p.slider->value(), 1200);
        QVERIFY(p.poll->isActive());

        stream().posResult = 0;
        stream().length = 0;
        stream().position = 9000;
        tick(dialog);
        QCOMPARE(p.slider->maximum(), 8000);
        QVERIFY(p.poll->isActive());
        QCOMPARE(stream().count("StopFilePlayback"), 0);
        QCOMPARE(stream().count("GetFilePlaybackPos"), 4);
        for (const FakeStreamCall& c : stream().calls)
            QCOMPARE(c.handle, 7);
        // Setting the slider from the poll never seeks.
        QCOMPARE(stream().count("SeekFilePlayback"), 0);
    }

    void endOfFileAndReplay()
    {
        PlayVideoDialog dialog;
        startPlaying(dialog);
        const Parts p = partsOf(dialog);
        soundOn(dialog);
        p.popup->show();

        stream().position = 5000;
        stream().length = 5000;
        tick(dialog);
        QCOMPARE(stream().ops(),
            QList<QByteArray>({ "GetFilePlaybackPos", "CloseSound", "StopFilePlayback" }));
        QCOMPARE(stream().calls.at(2).handle, 7);
        QVERIFY(!p.poll->isActive());
        QCOMPARE(p.slider->value(), p.slider->maximum());
        QCOMPARE(p.slider->maximum(), 5000);
        QVERIFY(p.popup->isHidden());
        QVERIFY(speakerShows(p.speaker, "icon_volume_close.png"));
        QCOMPARE(p.play->styleSheet(), playIconSheet(false));

        // Idle: no playback to seek in, no sound to switch.
        p.slider->setSliderDown(true);
        p.slider->setSliderPosition(100);
        p.slider->setSliderDown(false);
        p.speaker->click();
        QCOMPARE(stream().calls.size(), 3);
        QVERIFY(g_hookCalls.size() == 1);

        stream().startHandle = 8;
        p.play->click();
        QCOMPARE(stream().calls.size(), 4);
        QCOMPARE(stream().calls.last().op, QByteArray("StartFilePlayback"));
        QCOMPARE(stream().calls.last().path, m_clip.toUtf8());
        QVERIFY(p.poll->isActive());
        QCOMPARE(p.play->styleSheet(), playIconSheet(true));
    }

    void seekOnlyOnUserMoves()
    {
        PlayVideoDialog dialog;
        startPlaying(dialog);
        const Parts p = partsOf(dialog);
        stream().position = 1000;
        stream().length = 9000;
        tick(dialog);
        p.slider->setValue(3000);
        QCOMPARE(stream().count("SeekFilePlayback"), 0);

        p.slider->setSliderDown(true);
        p.slider->setSliderPosition(4321);
        p.slider->setSliderDown(false);
        QCOMPARE(stream().count("SeekFilePlayback"), 1);
        QCOMPARE(stream().calls.last().handle, 7);
        QCOMPARE(stream().calls.last().value, 4321);
        QVERIFY(p.poll->isActive());

        // A poll during a drag leaves the handle where the user holds it.
        p.slider->setSliderDown(true);
        p.slider->setSliderPosition(6000);
        stream().position = 2000;
        tick(dialog);
        QCOMPARE(p.slider->sliderPosition(), 6000);
        p.slider->setSliderDown(false);
        QList<int> seeks;
        for (const FakeStreamCall& c : stream().calls)
            if (c.op == "SeekFilePlayback")
                seeks << c.value;
        QCOMPARE(seeks, QList<int>({ 4321, 6000 }));
        tick(dialog);
        QCOMPARE(p.slider->value(), 2000);
    }

    void pauseAndResume()
    {
        PlayVideoDialog dialog;
        startPlaying(dialog);
        const Parts p = partsOf(dialog);

        p.play->click();
        QCOMPARE(stream().ops(), QList<QByteArray>({ "PauseFilePlayback" }));
        QCOMPARE(p.play->styleSheet(), playIconSheet(false));
        QVERIFY(p.poll->isActive()); // still polling while paused

        p.play->click();
        QCOMPARE(stream().ops(), QList<QByteArray>({ "PauseFilePlayback", "ResumeFilePlayback" }));
        QCOMPARE(stream().calls.last().handle, 7);
        QCOMPARE(p.play->styleSheet(), playIconSheet(true));

        // Without the SDK the button does nothing at all.
        m_sdk->streamAvailable = false;
        p.play->click();
        QCOMPARE(stream().calls.size(), 2);
        QCOMPARE(p.play->styleSheet(), playIconSheet(true));
    }

    void soundOpensLater_data()
    {
        QTest::addColumn<int>("openResult");
        QTest::addColumn<bool>("hook");
        QTest::addColumn<bool>("opened");
        QTest::newRow("opened") << 0 << true << true;
        QTest::newRow("any result but -1 opens") << 4 << true << true;
        QTest::newRow("without host hook") << 0 << false << true;
        QTest::newRow("sdk cannot open") << -1 << true << false;
    }

    void soundOpensLater()
    {
        QFETCH(int, openResult);
        QFETCH(bool, hook);
        QFETCH(bool, opened);
        if (!hook)
            TaviLogic::s_transmitNotify = nullptr;
        stream().openSoundResult = openResult;
        PlayVideoDialog dialog;
        startPlaying(dialog);
        const Parts p = partsOf(dialog);
        TaviSim::clearLog();

        p.speaker->click();
        // The popup at once; the host hears first, the SDK only later.
        QVERIFY(p.popup->isVisible());
        QCOMPARE(g_hookCalls.size(), hook ? 1 : 0);
        if (hook) {
            QCOMPARE(g_hookCalls.first().code, 59);
            QCOMPARE(g_hookCalls.first().param, 0);
            QCOMPARE(g_hookCalls.first().opensBefore, 0);
        }
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
            QCOMPARE(g_hookCalls.size(), 2);
            QTRY_COMPARE(stream().count("OpenSound"), 1);
        }
    }

    void soundShotDroppedWhenPlaybackEnds()
    {
        PlayVideoDialog dialog;
        startPlaying(dialog);
        const Parts p = partsOf(dialog);
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
        startPlaying(dialog);
        const Parts p = partsOf(dialog);
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
        startPlaying(dialog);
        const Parts p = partsOf(dialog);

        // Entering while the sound is off shows nothing.
        const QPoint inside(5, 5);
        QEnterEvent enter(inside, inside, p.speaker->mapToGlobal(inside));
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
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(p.speaker, &leave);
        QVERIFY(p.popup->isVisible());
        QApplication::sendEvent(p.popup, &leave);
        QVERIFY(p.popup->isHidden());

        QApplication::sendEvent(p.speaker, &enter);
        QVERIFY(p.popup->isVisible());
        QCursor::setPos(p.speaker->mapToGlobal(QPoint(200, 200)));
        QApplication::sendEvent(p.speaker, &leave);
        QVERIFY(p.popup->isHidden());
    }

    void closingStopsPlayback()
    {
        QPointer<PlayVideoDialog> dialog = new PlayVideoDialog;
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        startPlaying(*dialog);
        soundOn(*dialog);
        partsOf(*dialog).close->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(stream().ops(), QList<QByteArray>({ "CloseSound", "StopFilePlayback" }));
        QCOMPARE(stream().calls.last().handle, 7);
    }

    void secondVideoReplacesFirst()
    {
        const QString second = m_dir.filePath(QStringLiteral("second.mp4"));
        QVERIFY(QFile::copy(m_clip, second));
        CWebComm bridge;

        stream().startHandle = 1;
        bridge.PlayVideoFile(m_clip);
        QCOMPARE(videoDialogs().size(), 1);
        QPointer<PlayVideoDialog> first = videoDialogs().first();

        stream().startHandle = 2;
        bridge.PlayVideoFile(second);
        // The first stops only after the second has started.
        QCOMPARE(stream().ops(), QList<QByteArray>({ "StartFilePlayback", "StartFilePlayback" }));
        QVERIFY(!first.isNull());
        QVERIFY(!first->isVisible());
        QTRY_VERIFY(first.isNull());
        QCOMPARE(stream().ops().last(), QByteArray("StopFilePlayback"));
        QCOMPARE(stream().calls.last().handle, 1);
        QCOMPARE(videoDialogs().size(), 1);
        QPointer<PlayVideoDialog> current = videoDialogs().first();
        QCOMPARE(stream().calls.at(1).path, second.toUtf8());

        // The bridge still names the second: a third call closes it.
        stream().startHandle = 3;
        bridge.PlayVideoFile(m_clip);
        QTRY_VERIFY(current.isNull());
        QCOMPARE(stream().calls.last().op, QByteArray("StopFilePlayback"));
        QCOMPARE(stream().calls.last().handle, 2);

        // Closed by the user, the dialog leaves the bridge with nothing to close.
        QPointer<PlayVideoDialog> third = videoDialogs().first();
        third->close();
        QTRY_VERIFY(third.isNull());
        stream().calls.clear();
        bridge.PlayVideoFile(m_clip);
        QCOMPARE(stream().ops(), QList<QByteArray>({ "StartFilePlayback" }));
    }

    void dialogOutlivesBridge()
    {
        QPointer<PlayVideoDialog> dialog;
        {
            CWebComm bridge;
            bridge.PlayVideoFile(m_clip);
            dialog = videoDialogs().first();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog.isNull());
        QVERIFY(onScreen(dialog));
        QCOMPARE(stream().count("StopFilePlayback"), 0);
    }
};

QTEST_MAIN(TestPlayVideoDialog)
#include "tst_playvideodialog.moc"
