// The simulated host libraries: the module's tests and the demo lean on them,
// so they must behave like the host wherever the module can tell.

#include "SkinMgr.h"
#include "TaviLogic.h"
#include "TaviSim.h"
#include "VolumeMenu.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtCore/QTemporaryFile>
#include <QtGui/QColor>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QSlider>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Shared with the handler, so that a late answer never touches a dead test.
struct Recorder
{
    struct Answer
    {
        std::thread::id thread;
        QByteArray sn, msg;
        int ack;
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Answer> answers;
};

void checkBody(const QByteArray& json, int cmd, const char* msg, const char* devid)
{
    const QJsonObject body = QJsonDocument::fromJson(json).object();
    QCOMPARE(body["cmd"].toInt(-1), cmd);
    QCOMPARE(body["devid"].toString(), QString::fromUtf8(devid));
    QCOMPARE(body["request"].toString(), QString::fromUtf8(msg));
    QCOMPARE(body["result"].toString(), QString::fromLatin1(cmd == 0 ? "unknown command" : "ok"));
}

IRequestSdk* request()
{
    return TaviSim::clientSdk()->GetRequestSdk();
}
IStreamSdk* stream()
{
    return TaviSim::clientSdk()->GetStreamSdk();
}

} // namespace

class TestHostSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(TaviLogic::m_ClientSdk, nullptr);
        TaviSim::installClientSdk();
        QCOMPARE(TaviLogic::m_ClientSdk, TaviSim::clientSdk());
        QVERIFY(stream());
    }

    void cleanup()
    {
        TaviSim::setResponseHandler(nullptr);
        TaviSim::clearLog();
    }

    void skinColoursParseAndDiffer()
    {
        const SkinMgr* skin = taviSkinMgr();
        const QStringList colours { skin->dlgBackgroundColor(), skin->dlgBorderColor(),
            skin->oneLevelTextColor(), skin->hoverRedColor(), skin->lineEditColor(),
            skin->themeThirdColor(), skin->webPageSolid() };
        QSet<QRgb> distinct;
        for (const QString& text : colours) {
            QVERIFY2(QColor::fromString(text).isValid(), qPrintable(text));
            distinct.insert(QColor::fromString(text).rgb());
        }
        QCOMPARE(distinct.size(), colours.size());
    }

    // Every image the module's dialogs use, as folder/file.
    void skinImages_data()
    {
        QTest::addColumn<QString>("image");
        for (const char* image : { "MainFrameUI/icon_close.png", "NvrPlayPage/replay_play.png",
                 "NvrPlayPage/replay_play_pause.png", "CommonUI/icon_openFile.png",
                 "MainFrame/Login/close.png", "PlayView/icon_volume_open.png",
                 "PlayView/icon_volume_close.png" })
            QTest::newRow(image) << QString::fromLatin1(image);
    }

    void skinImages()
    {
        QFETCH(QString, image);
        const QString folder = image.section('/', 0, -2), file = image.section('/', -1);
        const SkinMgr* skin = taviSkinMgr();
        const QString patched = skin->patchSkinPaths(
            QStringLiteral("QLabel { image: url(./skin/client/default/%1); }").arg(image));
        const QString url = QRegularExpression(R"(url\(([^)]*)\))").match(patched).captured(1);
        QVERIFY2(!url.startsWith(QLatin1String("./")) && QFile::exists(url), qPrintable(patched));

        QVERIFY(!skin->getPixmap(folder, file, QSize(), -1, -1).isNull());
        QCOMPARE(skin->getPixmap(folder, file, QSize(16, 16), -1, -1).size(), QSize(16, 16));
        QVERIFY(skin->getPixmap(folder, "missing_" + file, QSize(16, 16), -1, -1).isNull());
    }

    // Answers come from a worker thread in request order; the body echoes the request.
    void asyncAnswersInOrderOffCallerThread()
    {
        const auto recorder = std::make_shared<Recorder>();
        TaviSim::setResponseHandler([recorder](__tagKelCommand* cmd) {
            std::lock_guard<std::mutex> lock(recorder->mutex);
            recorder->answers.push_back(
                { std::this_thread::get_id(), cmd->sn, cmd->msg, cmd->ack });
            recorder->arrived.notify_all();
        });
        char devid[] = "nvr-01";
        const int count = 20;
        for (int i = 0; i < count; ++i) // command 0 is unknown, odd ones carry null texts
            QCOMPARE(request()->SendServerRequest(i, i % 2 ? nullptr : "Tür ✓",
                         QByteArray::number(i).constData(), i % 2 ? nullptr : devid),
                0);
        std::unique_lock<std::mutex> lock(recorder->mutex);
        QVERIFY(recorder->arrived.wait_for(lock, std::chrono::seconds(5),
            [&] { return recorder->answers.size() >= size_t(count); }));
        for (int i = 0; i < count; ++i) {
            const Recorder::Answer& answer = recorder->answers[i];
            QVERIFY(answer.thread != std::this_thread::get_id());
            QCOMPARE(answer.sn, QByteArray::number(i));
            QCOMPARE(answer.ack, i == 0 ? -1 : 0);
            checkBody(answer.msg, i, i % 2 ? "" : "Tür ✓", i % 2 ? "" : "nvr-01");
        }
    }

    void syncAnswerBody()
    {
        char devid[] = "door-02";
        std::string text = "stale";
        QCOMPARE(request()->SendServerRequestSync(8, "Tür ✓", devid, 300, text), 0);
        checkBody(QByteArray::fromStdString(text), 8, "Tür ✓", "door-02");
        QCOMPARE(request()->SendServerRequestSync(0, nullptr, nullptr, 300, text), 0);
        checkBody(QByteArray::fromStdString(text), 0, "", "");
    }

    void sessionIdKnownAndUnknown()
    {
        std::string text = "stale";
        QCOMPARE(request()->QueryDevSessionId("nvr-01", text), 0);
        QCOMPARE(QString::fromStdString(text), QStringLiteral("sess-nvr-01"));
        for (const char* devid : { "nvr-99", "", static_cast<const char*>(nullptr) }) {
            text = "stale";
            QCOMPARE(request()->QueryDevSessionId(devid, text), -1);
            QVERIFY(text.empty());
        }
    }

    // Without a window to decode into, the stream is a clock 30 s long.
    void playbackClock()
    {
        int handle = 4242, pos = -1, total = -1;
        QCOMPARE(stream()->StartFilePlayback("/nonexistent/clip.mp4", 0, &handle, 0), -2);
        QCOMPARE(handle, 4242);

        QTemporaryFile clip;
        QVERIFY(clip.open());
        const QByteArray path = clip.fileName().toUtf8();
        QCOMPARE(stream()->StartFilePlayback(path.constData(), 0, &handle, 0), 0);
        QVERIFY(handle >= 0 && handle != 4242);
        QCOMPARE(stream()->OpenSound(handle), 0);
        int first = -1;
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &first, &total), 0);
        QCOMPARE(total, 30000);
        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && pos > first);

        QCOMPARE(stream()->PauseFilePlayback(handle), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &first, &total), 0);
        QTest::qWait(60);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
        QCOMPARE(pos, first);

        // Paused, so each seek reads back exactly, clamped to the stream.
        for (const auto& [to, expected] :
            { std::pair { -500, 0 }, { 1234, 1234 }, { 999999, 30000 } }) {
            QCOMPARE(stream()->SeekFilePlayback(handle, to), 0);
            QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
            QCOMPARE(pos, expected);
        }
        QCOMPARE(stream()->StopFilePlayback(handle), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), -1);
    }

    void logLinesReadBack()
    {
        taviLogMgr()->logDebug(QStringLiteral("one"));
        taviLogMgr()->logDebug(QStringLiteral("Tür ✓"));
        QCOMPARE(TaviSim::logLines(), QStringList({ "one", QStringLiteral("Tür ✓") }));
        TaviSim::clearLog();
        QVERIFY(TaviSim::logLines().isEmpty());
    }

    void volumeMenuSignal()
    {
        VolumeMenu menu(nullptr);
        QSignalSpy spy(&menu, &VolumeMenu::sig_volumeSliderChanged);
        menu.slider()->setValue(73);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.takeFirst().at(0).toInt(), 73);
        {
            const QSignalBlocker blocker(&menu);
            menu.slider()->setValue(20);
        }
        QCOMPARE(spy.count(), 0);

        // The volume is the host's, so a fresh popup picks up the last one set.
        VolumeMenu other(nullptr);
        other.updateVolume();
        QCOMPARE(other.slider()->value(), 20);
    }
};

QTEST_MAIN(TestHostSim)
#include "tst_hostsim.moc"
