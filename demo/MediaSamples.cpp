#include "MediaSamples.h"

#include <QtCore/QDataStream>
#include <QtCore/QFile>
#include <QtCore/QVector>
#include <QtCore/QtMath>
#include <QtGui/QFont>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>

namespace MediaSamples {

namespace {

// 16-bit mono PCM at rate samples a second.
bool writeWav(const QString& path, int rate, const QVector<qint16>& samples)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = quint32(samples.size()) * 2;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (const qint16 sample : samples)
        out << sample;
    return out.status() == QDataStream::Ok && file.flush();
}

} // namespace

QImage snapshot()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 1080);
    sky.setColorAt(0, QColor(0x2d, 0x4a, 0x66));
    sky.setColorAt(0.55, QColor(0x7d, 0x93, 0xa6));
    sky.setColorAt(0.56, QColor(0x4b, 0x4f, 0x54));
    sky.setColorAt(1, QColor(0x2a, 0x2c, 0x30));
    p.fillRect(image.rect(), sky);

    // A loading bay: building, doors, lane markings.
    p.fillRect(QRect(180, 260, 1560, 360), QColor(0x8a, 0x8f, 0x96));
    for (int i = 0; i < 4; ++i)
        p.fillRect(QRect(260 + i * 380, 360, 260, 260), QColor(0x5c, 0x61, 0x68));
    p.setPen(QPen(QColor(0xf2, 0xc9, 0x4c), 10));
    for (int i = 0; i < 5; ++i)
        p.drawLine(200 + i * 380, 1080, 330 + i * 380, 640);

    // The motion zone the alarm refers to.
    p.setPen(QPen(QColor(0xff, 0x45, 0x3a), 6));
    p.setBrush(QColor(0xff, 0x45, 0x3a, 40));
    p.drawRect(QRect(1020, 520, 420, 380));

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(54);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QPoint(60, 100), QStringLiteral("CAM 03  Loading bay"));
    font.setPixelSize(40);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QPoint(60, 1030), QStringLiteral("2026-01-12 10:15:30"));
    p.drawText(QPoint(1060, 500), QStringLiteral("motion zone 3"));
    p.end();
    return image;
}

bool writeSnapshot(const QString& path)
{
    return snapshot().save(path, "PNG");
}

bool writeChime(const QString& path)
{
    const int rate = 22050;
    QVector<qint16> samples(rate * 8 / 10);
    // Two notes, each fading out.
    for (int i = 0; i < samples.size(); ++i) {
        const double t = double(i) / rate;
        const bool second = t >= 0.4;
        const double local = second ? t - 0.4 : t;
        const double freq = second ? 659.25 : 880.0;
        const double amp = 0.45 * qExp(-6.0 * local);
        samples[i] = qint16(32767 * amp * qSin(2 * M_PI * freq * local));
    }
    return writeWav(path, rate, samples);
}

bool writeBell(const QString& path)
{
    const int rate = 8000;
    QVector<qint16> samples(rate / 2);
    for (int i = 0; i < samples.size(); ++i) {
        const double t = double(i) / rate;
        samples[i] = qint16(12000 * qExp(-6 * t) * qSin(2 * M_PI * 880 * t));
    }
    return writeWav(path, rate, samples);
}

} // namespace MediaSamples
