// The bridge's PlaySoundFile: one player pair per bridge, replaced by each
// call and gone with the bridge.

#include "TestSupport.h"

#include <WebComm.h>

#include <QtCore/QDataStream>
#include <QtCore/QPointer>
#include <QtCore/QTemporaryDir>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>
#include <QtTest/QTest>

#include <memory>

using namespace TestSupport;

namespace {

// A short 16-bit mono PCM tone at 8 kHz.
bool writeWav(const QString& path, int milliseconds)
{
    const quint32 samples = 8 * milliseconds;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(samples * 2);
    for (quint32 i = 0; i < samples; ++i)
        out << qint16((i / 5) % 2 ? 6000 : -6000);
    return out.status() == QDataStream::Ok;
}

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

        QCOMPARE(players(bridge).size(), 1);
        QCOMPARE(outputs(bridge).size(), 1);
        QMediaPlayer* player = players(bridge).first();
        QCOMPARE(player->audioOutput(), outputs(bridge).first());
        QCOMPARE(player->source(), QUrl::fromLocalFile(file));
        QCOMPARE(player->loops(), 1);
        QCOMPARE(player->audioOutput()->device(), QMediaDevices::defaultAudioOutput());

        // Without a device nothing plays; otherwise the player's state right
        // after play() decides the line. Other debug lines are the back end's.
        QString expected = QStringLiteral("No Error");
        if (QMediaDevices::defaultAudioOutput().isNull())
            expected = QStringLiteral("Error: \"No audio output device\"");
        else if (player->error() != QMediaPlayer::NoError)
            expected = QStringLiteral("Error: \"%1\"").arg(player->errorString());
        QStringList outcome;
        for (const QString& line : log.debugLines())
            if (line == QLatin1String("No Error") || line.startsWith(QLatin1String("Error: ")))
                outcome << line;
        QCOMPARE(outcome, QStringList({ expected }));
        if (QMediaDevices::defaultAudioOutput().isNull())
            QCOMPARE(player->playbackState(), QMediaPlayer::StoppedState);
    }

    void secondCallReplacesThePair()
    {
        CWebComm bridge;
        bridge.PlaySoundFile(m_chime);
        QPointer<QMediaPlayer> firstPlayer = players(bridge).first();
        QPointer<QAudioOutput> firstOutput = outputs(bridge).first();

        bridge.PlaySoundFile(m_bell);
        // The old pair lasts until the event loop turns.
        QVERIFY(firstPlayer && firstOutput);
        QCOMPARE(players(bridge).size(), 2);

        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(firstPlayer.isNull() && firstOutput.isNull());
        QCOMPARE(players(bridge).size(), 1);
        QCOMPARE(outputs(bridge).size(), 1);
        QCOMPARE(players(bridge).first()->source(), QUrl::fromLocalFile(m_bell));
        QCOMPARE(players(bridge).first()->audioOutput(), outputs(bridge).first());
    }

    void pairDiesWithTheBridge()
    {
        auto bridge = std::make_unique<CWebComm>();
        bridge->PlaySoundFile(m_chime);
        QPointer<QMediaPlayer> player = players(*bridge).value(0);
        QPointer<QAudioOutput> output = outputs(*bridge).value(0);
        QVERIFY(player && output);
        bridge.reset();
        QVERIFY(player.isNull() && output.isNull());
    }
};

QTEST_MAIN(TestSoundPlayback)
#include "tst_soundplayback.moc"
