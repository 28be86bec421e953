// The simulated host libraries: the module's tests and the demo lean on them,
// so they must behave like the host wherever the module can tell.

#include "SkinMgr.h"
#include "TaviLogic.h"
#include "TaviSim.h"
#include "VolumeMenu.h"

#include <QtCore/QDataStream>
#include <QtCore/QDir>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTemporaryFile>
#include <QtGui/QColor>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QMediaDevices>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QSlider>
#include <QtWidgets/QWidget>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(std::function<int(int)>)

namespace {

struct Answer
{
    std::thread::id thread;
    QByteArray sn, msg;
    int ack = 0;
};

// Shared with the handler, so that a late answer never touches a dead test.
struct Recorder
{
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Answer> answers;

    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(
            lock, std::chrono::seconds(5), [&] { return answers.size() >= count; });
    }
};

std::shared_ptr<Recorder> recordAnswers()
{
    auto recorder = std::make_shared<Recorder>();
    TaviSim::setResponseHandler([recorder](__tagKelCommand* cmd) {
        std::lock_guard<std::mutex> lock(recorder->mutex);
        recorder->answers.push_back({ std::this_thread::get_id(), cmd->sn, cmd->msg, cmd->ack });
        recorder->arrived.notify_all();
    });
    return recorder;
}

// The SDK reads a null pointer as an empty text; QByteArray() tells the two apart.
char* orNull(QByteArray& text)
{
    return text.isNull() ? nullptr : text.data();
}

IRequestSdk* request()
{
    return TaviSim::clientSdk()->GetRequestSdk();
}
IStreamSdk* stream()
{
    return TaviSim::clientSdk()->GetStreamSdk();
}

// The clock's length when no decoder plays the file.
constexpr int SimStreamLength = 30000;

// A 16-bit mono PCM tone: a file the decoder plays without a video track.
bool writeWav(const QString& path, int milliseconds)
{
    const int rate = 8000;
    const quint32 samples = quint32(rate) * milliseconds / 1000;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(samples * 2);
    for (quint32 i = 0; i < samples; ++i)
        out << qint16((i / 10) % 2 ? 6000 : -6000);
    return out.status() == QDataStream::Ok;
}

// The demo's sample video (6 s, with sound), copied out of the resources.
QString sampleVideo(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("sample.mp4"));
    return QFile::copy(QStringLiteral(":/tests/sample.mp4"), path) ? path : QString();
}

// The video widget the SDK lays over a render window.
QWidget* videoChild(QWidget& window)
{
    for (QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (child->inherits("QVideoWidget"))
            return child;
    return nullptr;
}

void addAnswerRows()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<QByteArray>("devid");
    QTest::addColumn<int>("ack");
    QTest::addColumn<QString>("result");
    QTest::newRow("known command")
        << 5 << QByteArray(R"({"page":1})") << QByteArray("nvr-01") << 0 << "ok";
    QTest::newRow("unknown command")
        << 0 << QByteArray("x") << QByteArray("cam-lobby") << -1 << "unknown command";
    QTest::newRow("null texts") << 7 << QByteArray() << QByteArray() << 0 << "ok";
    QTest::newRow("utf-8 text") << 8 << QByteArray("Tür ✓") << QByteArray("door-02") << 0 << "ok";
}

void checkBody(const QByteArray& json)
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, msg);
    QFETCH(QByteArray, devid);
    QFETCH(QString, result);
    const QJsonObject body = QJsonDocument::fromJson(json).object();
    QCOMPARE(body["cmd"].toInt(-1), cmd);
    QCOMPARE(body["devid"].toString(), QString::fromUtf8(devid));
    QCOMPARE(body["request"].toString(), QString::fromUtf8(msg));
    QCOMPARE(body["result"].toString(), result);
}

} // namespace

class TestHostSim : public QObject
{
    Q_OBJECT

    DeviceStatusMap m_defaultDevices;

private slots:
    void initTestCase()
    {
        QCOMPARE(TaviLogic::m_ClientSdk, nullptr);
        TaviSim::installClientSdk();
        QCOMPARE(TaviLogic::m_ClientSdk, TaviSim::clientSdk());
        QVERIFY(stream());
        m_defaultDevices = TaviSim::deviceStatus();
        QVERIFY(m_defaultDevices.count("nvr-01"));
    }

    void cleanup()
    {
        TaviSim::setResponseHandler(nullptr);
        TaviSim::setDeviceStatus(m_defaultDevices);
        TaviSim::setLogFile(QString());
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

    void skinImages_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::newRow("main close") << "MainFrameUI"
                                    << "icon_close.png";
        QTest::newRow("play") << "NvrPlayPage"
                              << "replay_play.png";
        QTest::newRow("pause") << "NvrPlayPage"
                               << "replay_play_pause.png";
        QTest::newRow("open file") << "CommonUI"
                                   << "icon_openFile.png";
        QTest::newRow("login close") << "MainFrame/Login"
                                     << "close.png";
        QTest::newRow("volume on") << "PlayView"
                                   << "icon_volume_open.png";
        QTest::newRow("volume off") << "PlayView"
                                    << "icon_volume_close.png";
    }

    void skinImages()
    {
        QFETCH(QString, folder);
        QFETCH(QString, file);
        const SkinMgr* skin = taviSkinMgr();
        const QString patched = skin->patchSkinPaths(
            QStringLiteral("QLabel { image: url(./skin/client/default/%1/%2); }")
                .arg(folder, file));
        const QString url = QRegularExpression(R"(url\(([^)]*)\))").match(patched).captured(1);
        QVERIFY2(!url.startsWith(QLatin1String("./")) && QFile::exists(url), qPrintable(patched));

        QVERIFY(!skin->getPixmap(folder, file, QSize(), -1, -1).isNull());
        QCOMPARE(skin->getPixmap(folder, file, QSize(16, 16), -1, -1).size(), QSize(16, 16));
        QVERIFY(skin->getPixmap(folder, "missing_" + file, QSize(16, 16), -1, -1).isNull());
    }

    void asyncAnswersKeepOrderOffCallerThread()
    {
        const auto recorder = recordAnswers();
        const int count = 20;
        for (int i = 0; i < count; ++i)
            QCOMPARE(request()->SendServerRequest(
                         100 + i, "{}", QByteArray::number(i).constData(), nullptr),
                0);
        QVERIFY(recorder->waitFor(count));

        std::lock_guard<std::mutex> lock(recorder->mutex);
        QCOMPARE(int(recorder->answers.size()), count);
        for (int i = 0; i < count; ++i) {
            QVERIFY(recorder->answers[i].thread != std::this_thread::get_id());
            QCOMPARE(recorder->answers[i].sn, QByteArray::number(i));
        }
    }

    void asyncAnswerBody_data() { addAnswerRows(); }
    void asyncAnswerBody()
    {
        QFETCH(int, cmd);
        QFETCH(QByteArray, msg);
        QFETCH(QByteArray, devid);
        QFETCH(int, ack);
        const auto recorder = recordAnswers();
        QCOMPARE(request()->SendServerRequest(cmd, orNull(msg), "the-sn", orNull(devid)), 0);
        QVERIFY(recorder->waitFor(1));

        std::lock_guard<std::mutex> lock(recorder->mutex);
        QCOMPARE(recorder->answers.front().sn, QByteArray("the-sn"));
        QCOMPARE(recorder->answers.front().ack, ack);
        checkBody(recorder->answers.front().msg);
    }

    void syncAnswerBody_data() { addAnswerRows(); }
    void syncAnswerBody()
    {
        QFETCH(int, cmd);
        QFETCH(QByteArray, msg);
        QFETCH(QByteArray, devid);
        std::string text = "stale";
        QCOMPARE(request()->SendServerRequestSync(cmd, orNull(msg), orNull(devid), 300, text), 0);
        checkBody(QByteArray::fromStdString(text));
    }

    void negativeCommandIsRefused()
    {
        const auto recorder = recordAnswers();
        QCOMPARE(request()->SendServerRequest(-1, "{}", "refused", nullptr), -1);
        QCOMPARE(request()->SendServerRequest(1, "{}", "accepted", nullptr), 0);
        QVERIFY(recorder->waitFor(1));
        {
            // Answers keep request order, so a queued refusal would come first.
            std::lock_guard<std::mutex> lock(recorder->mutex);
            QCOMPARE(recorder->answers.front().sn, QByteArray("accepted"));
        }
        std::string text = "stale";
        QCOMPARE(request()->SendServerRequestSync(-1, "{}", nullptr, 300, text), -1);
        QVERIFY(text.empty());
    }

    void sessionId_data()
    {
        QTest::addColumn<QByteArray>("devid");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("session");
        QTest::newRow("known device") << QByteArray("nvr-01") << 0 << "sess-nvr-01";
        QTest::newRow("device added later") << QByteArray("cam-new") << 0 << "sess-cam-new";
        QTest::newRow("unknown device") << QByteArray("nvr-99") << -1 << "";
        QTest::newRow("empty id") << QByteArray("") << -1 << "";
        QTest::newRow("null id") << QByteArray() << -1 << "";
    }

    void sessionId()
    {
        QFETCH(QByteArray, devid);
        QFETCH(int, rc);
        QFETCH(QString, session);
        TaviSim::setChannelStatus("cam-new", 1, 1);
        std::string text = "stale";
        QCOMPARE(request()->QueryDevSessionId(orNull(devid), text), rc);
        QCOMPARE(QString::fromStdString(text), session);
    }

    void startFailures_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("null path") << QByteArray();
        QTest::newRow("empty path") << QByteArray("");
        QTest::newRow("missing file") << QByteArray("/nonexistent/clip.mp4");
        QTest::newRow("directory") << QDir::tempPath().toUtf8();
    }

    void startFailures()
    {
        QFETCH(QByteArray, path);
        int handle = 4242;
        QCOMPARE(stream()->StartFilePlayback(orNull(path), 0, &handle, 0), -2);
        QCOMPARE(handle, 4242);
    }

    void playbackClock()
    {
        QTemporaryFile clip;
        QVERIFY(clip.open());
        const QByteArray path = clip.fileName().toUtf8();
        QCOMPARE(stream()->StartFilePlayback(path.constData(), 0, nullptr, 0), -1);
        int handle = -1, first = -1, pos = -1, total = -1;
        QCOMPARE(stream()->StartFilePlayback(path.constData(), 0, &handle, 0), 0);
        QVERIFY(handle >= 0);
        QCOMPARE(stream()->OpenSound(handle), 0);

        QCOMPARE(stream()->GetFilePlaybackPos(handle, &first, &total), 0);
        QCOMPARE(total, 30000);
        QTest::qSleep(120);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
        QVERIFY2(pos >= first + 100, qPrintable(QString::number(pos - first)));

        QCOMPARE(stream()->PauseFilePlayback(handle), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &first, &total), 0);
        QTest::qSleep(60);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
        QCOMPARE(pos, first);

        // Paused, so each seek reads back exactly.
        for (const auto& [to, expected] :
            { std::pair { -500, 0 }, { 1234, 1234 }, { 999999, 30000 } }) {
            QCOMPARE(stream()->SeekFilePlayback(handle, to), 0);
            QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
            QCOMPARE(pos, expected);
        }
        QCOMPARE(stream()->SeekFilePlayback(handle, 1000), 0);
        QCOMPARE(stream()->ResumeFilePlayback(handle), 0);
        QTest::qSleep(60);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
        QVERIFY(pos >= 1050);

        int next = -1;
        QCOMPARE(stream()->StartFilePlayback(path.constData(), 0, &next, 0), 0);
        QVERIFY(next > handle);
        QCOMPARE(stream()->StopFilePlayback(next), 0);
        QCOMPARE(stream()->StopFilePlayback(handle), 0);
    }

    void forgottenHandle_data()
    {
        using Call = std::function<int(int)>;
        QTest::addColumn<Call>("call");
        static int pos, total;
        QTest::newRow("pause") << Call([](int h) { return stream()->PauseFilePlayback(h); });
        QTest::newRow("resume") << Call([](int h) { return stream()->ResumeFilePlayback(h); });
        QTest::newRow("seek") << Call([](int h) { return stream()->SeekFilePlayback(h, 10); });
        QTest::newRow("open sound") << Call([](int h) { return stream()->OpenSound(h); });
        QTest::newRow("close sound") << Call([](int h) { return stream()->CloseSound(h); });
        QTest::newRow("position") << Call(
            [](int h) { return stream()->GetFilePlaybackPos(h, &pos, &total); });
        QTest::newRow("stop") << Call([](int h) { return stream()->StopFilePlayback(h); });
    }

    void forgottenHandle()
    {
        QFETCH(std::function<int(int)>, call);
        QTemporaryFile clip;
        QVERIFY(clip.open());
        int handle = -1;
        QCOMPARE(
            stream()->StartFilePlayback(clip.fileName().toUtf8().constData(), 0, &handle, 0), 0);
        QCOMPARE(stream()->StopFilePlayback(handle), 0);
        QCOMPARE(call(handle), -1);
    }

    // A window of this process gets the file decoded into it, in milliseconds.
    void realPlaybackIntoWidget()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString clip = sampleVideo(dir);
        QVERIFY(!clip.isEmpty());
        QWidget window;
        window.setAttribute(Qt::WA_NativeWindow);
        window.resize(320, 180);
        window.show();

        int handle = -1, pos = -1, total = -1;
        QCOMPARE(
            stream()->StartFilePlayback(clip.toUtf8().constData(), window.winId(), &handle, 0), 0);
        QVERIFY(handle >= 0);
        QWidget* video = videoChild(window);
        QVERIFY(video);
        QCOMPARE(video->geometry(), window.rect());
        window.resize(400, 240);
        QCOMPARE(video->geometry(), window.rect());

        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && total > 0);
        QCOMPARE(total, 6000);
        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && pos > 0);

        // Paused, a seek reads back exactly, within the file.
        QCOMPARE(stream()->PauseFilePlayback(handle), 0);
        QCOMPARE(stream()->SeekFilePlayback(handle, 600), 0);
        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && pos == 600);
        QCOMPARE(stream()->SeekFilePlayback(handle, -50), 0);
        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && pos == 0);

        // Played on to the end, the position reaches the length exactly, as
        // the dialog needs to see the end.
        QCOMPARE(stream()->SeekFilePlayback(handle, 5500), 0);
        QCOMPARE(stream()->ResumeFilePlayback(handle), 0);
        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && pos == total);
        QCOMPARE(total, 6000);

        // Sound needs a device; the file has a sound track.
        const int sound = QMediaDevices::defaultAudioOutput().isNull() ? -1 : 0;
        QCOMPARE(stream()->OpenSound(handle), sound);
        QCOMPARE(stream()->CloseSound(handle), 0);

        QCOMPARE(stream()->StopFilePlayback(handle), 0);
        QVERIFY(!videoChild(window));
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), -1);
    }

    void clockStandsIn_data()
    {
        QTest::addColumn<QString>("content"); // "video", "tone" or anything else
        QTest::addColumn<int>("window"); // 0: none, 1: foreign id, 2: widget, 3: widget that dies
        QTest::newRow("no window") << "video" << 0;
        QTest::newRow("window of another process") << "video" << 1;
        QTest::newRow("file not decodable") << "no media in here" << 2;
        QTest::newRow("window closed while playing") << "video" << 3;
        if (QMediaDevices::defaultAudioOutput().isNull())
            QTest::newRow("sound only, no device") << "tone" << 2;
    }

    void clockStandsIn()
    {
        QFETCH(QString, content);
        QFETCH(int, window);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString clip = dir.filePath("clip.mp4");
        if (content == QLatin1String("video")) {
            clip = sampleVideo(dir);
        } else if (content == QLatin1String("tone")) {
            QVERIFY(writeWav(clip, 2000));
        } else {
            QFile file(clip);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content.toUtf8());
        }
        auto widget = std::make_unique<QWidget>();
        widget->setAttribute(Qt::WA_NativeWindow);
        widget->show();
        const WId wnd = window == 0 ? 0 : window == 1 ? WId(0x7ffffff0) : widget->winId();

        int handle = -1, pos = -1, total = -1;
        QCOMPARE(stream()->StartFilePlayback(clip.toUtf8().constData(), wnd, &handle, 0), 0);
        if (window == 3) {
            QVERIFY(videoChild(*widget));
            QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && total > 0);
            QCOMPARE(total, 6000);
            widget.reset();
        }
        QTRY_VERIFY(
            stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && total == SimStreamLength);
        if (widget)
            QTRY_VERIFY(!videoChild(*widget));
        // The clock still follows the controls.
        QCOMPARE(stream()->PauseFilePlayback(handle), 0);
        QCOMPARE(stream()->SeekFilePlayback(handle, 1234), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
        QCOMPARE(pos, 1234);
        QCOMPARE(stream()->OpenSound(handle), 0);
        QCOMPARE(stream()->StopFilePlayback(handle), 0);
    }

    void logReachesMemoryAndFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TaviSim::setLogFile(dir.filePath("host.log"));
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back([t] {
                for (int i = 0; i < 50; ++i)
                    taviLogMgr()->logDebug(QStringLiteral("writer %1 line %2").arg(t).arg(i));
            });
        for (std::thread& writer : writers)
            writer.join();
        taviLogMgr()->logDebug(QStringLiteral("Tür ✓"));

        const QStringList lines = TaviSim::logLines();
        QCOMPARE(lines.size(), 201);
        QCOMPARE(lines.last(), QStringLiteral("Tür ✓"));
        QFile file(dir.filePath("host.log"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.endsWith("\n"));
        QCOMPARE(QString::fromUtf8(content).split('\n', Qt::SkipEmptyParts), lines);
    }

    void unwritableLogFileWarnsOnce()
    {
        TaviSim::setLogFile("/nonexistent-dir/host.log");
        const QRegularExpression warning("cannot write the log file");
        QTest::ignoreMessage(QtWarningMsg, warning);
        QTest::failOnWarning(warning);
        taviLogMgr()->logDebug("one");
        taviLogMgr()->logDebug("two");
        QCOMPARE(TaviSim::logLines(), QStringList({ "one", "two" }));
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
