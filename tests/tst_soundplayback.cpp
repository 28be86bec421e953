// The bridge's PlaySoundFile: one player pair per bridge, replaced by each
// call and gone with the bridge.

#include "TestSupport.h"

#include <WebComm.h>

#include <QtCore/QDataStream>
#include <QtCore/QPointer>
#include <QtCore/QTemporaryDir>
#include <QtCore/QtMath>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>
#include <QtTest/QTest>

#include <memory>

using namespace TestSupport;

namespace {

// A short 16-bit mono PCM chime.
bool writeWav(const QString& path, int milliseconds)
{
    const int rate = 8000;
    const int samples = rate * milliseconds / 1000;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = samples * 2;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (int i = 0; i < samples; ++i)
        out << qint16(8000 * qSin(2 * M_PI * 880 * i / rate));
    return out.status() == QDataStream::Ok;
}

struct Pair
{
    QMediaPlayer* player = nullptr;
    QAudioOutput* output = nullptr;
    int players = 0;
    int outputs = 0;
};

Pair pairOf(const CWebComm& bridge)
{
    Pair pair;
    const auto players = bridge.findChildren<QMediaPlayer*>(QString(), Qt::FindDirectChildrenOnly);
    const auto outputs = bridge.findChildren<QAudioOutput*>(QString(), Qt::FindDirectChildrenOnly);
    pair.players = players.size();
    pair.outputs = outputs.size();
    pair.player = players.value(players.size() - 1);
    pair.output = outputs.value(outputs.size() - 1);
    return pair;
}

// The outcome lines the call may write; every other debug line is the
// multimedia back end's own.
QStringList outcomeLines(const LogCapture& log)
{
    QStringList lines;
    for (const QString& line : log.debugLines())
        if (line == QLatin1String("No Error") || line.startsWith(QLatin1String("Error: ")))
            lines << line;
    return lines;
}

} // namespace

class TestSoundPlayback : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_chime;
    QString m_bell;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_chime = m_dir.filePath(QStringLiteral("chime.wav"));
        m_bell = m_dir.filePath(QStringLiteral("bell.wav"));
        QVERIFY(writeWav(m_chime, 300));
        QVERIFY(writeWav(m_bell, 200));
    }

    void playsOnceWithItsOwnOutput_data()
    {
        QTest::addColumn<QString>("file"); // "chime": the generated sound
        QTest::newRow("generated sound") << "chime";
        QTest::newRow("empty path") << "";
        QTest::newRow("missing file") << "/nonexistent/alarm.wav";
    }

    void playsOnceWithItsOwnOutput()
    {
        QFETCH(QString, file);
        if (file == QLatin1String("chime"))
            file = m_chime;
        CWebComm bridge;
        LogCapture log;
        bridge.PlaySoundFile(file);

        const Pair pair = pairOf(bridge);
        QCOMPARE(pair.players, 1);
        QCOMPARE(pair.outputs, 1);
        QCOMPARE(pair.player->audioOutput(), pair.output);
        QCOMPARE(pair.player->source(), QUrl::fromLocalFile(file));
        QCOMPARE(pair.player->loops(), 1);
        QCOMPARE(pair.output->device(), QMediaDevices::defaultAudioOutput());

        // Without a device nothing is played; otherwise the player's state
        // right after play() decides the line.
        QString expected;
        if (QMediaDevices::defaultAudioOutput().isNull())
            expected = QStringLiteral("Error: \"No audio output device\"");
        else if (pair.player->error() == QMediaPlayer::NoError)
            expected = QStringLiteral("No Error");
        else
            expected = QStringLiteral("Error: \"%1\"").arg(pair.player->errorString());
        QCOMPARE(outcomeLines(log), QStringList({ expected }));
        if (QMediaDevices::defaultAudioOutput().isNull())
            QCOMPARE(pair.player->playbackState(), QMediaPlayer::StoppedState);
    }

    void secondCallReplacesThePair()
    {
        CWebComm bridge;
        bridge.PlaySoundFile(m_chime);
        const Pair first = pairOf(bridge);
        QPointer<QMediaPlayer> firstPlayer = first.player;
        QPointer<QAudioOutput> firstOutput = first.output;

        bridge.PlaySoundFile(m_bell);
        // The old pair lasts until the event loop turns.
        QVERIFY(firstPlayer && firstOutput);
        QCOMPARE(pairOf(bridge).players, 2);

        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(firstPlayer.isNull());
        QVERIFY(firstOutput.isNull());
        const Pair second = pairOf(bridge);
        QCOMPARE(second.players, 1);
        QCOMPARE(second.outputs, 1);
        QCOMPARE(second.player->source(), QUrl::fromLocalFile(m_bell));
        QCOMPARE(second.player->audioOutput(), second.output);
    }

    void pairDiesWithTheBridge()
    {
        auto bridge = std::make_unique<CWebComm>();
        bridge->PlaySoundFile(m_chime);
        const Pair pair = pairOf(*bridge);
        QPointer<QMediaPlayer> player = pair.player;
        QPointer<QAudioOutput> output = pair.output;
        QVERIFY(player && output);
        bridge.reset();
        QVERIFY(player.isNull());
        QVERIFY(output.isNull());
    }
};

QTEST_MAIN(TestSoundPlayback)
#include "tst_soundplayback.moc"
