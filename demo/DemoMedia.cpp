#include "DemoMedia.h"

#include "DemoHost.h"
#include "MediaSamples.h"

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>
#include <QtWidgets/QWidget>

DemoMedia::DemoMedia(QObject* parent, int closeAfterMs)
    : QObject(parent)
    , m_nCloseAfterMs(closeAfterMs)
{
    // Qt 6.4 on Debian picks GStreamer, which crashes without its plugins;
    // the FFmpeg back end ships with Qt. Must be set before the first player.
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");

    qApp->installEventFilter(this);
    publishSamples();

    auto* progressTimer = new QTimer(this);
    connect(progressTimer, &QTimer::timeout, this, &DemoMedia::onProgressTimerTimeout);
    progressTimer->start(300);

    // The host closes its video windows itself: their playbacks must stop
    // while the application is still there.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [] {
        QList<QPointer<QWidget>> dialogs;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("PlayVideoDialog"))
                dialogs << w;
        // Deleting one also deletes its own popup windows.
        for (const QPointer<QWidget>& dialog : dialogs)
            delete dialog.data();
    });
}

DemoMedia::~DemoMedia()
{
    qApp->removeEventFilter(this);
}

void DemoMedia::publishSamples()
{
    QJsonObject samples { { QStringLiteral("autoClose"), m_nCloseAfterMs > 0 } };
    if (m_dir.isValid()) {
        const QString video = m_dir.filePath(QStringLiteral("sample.mp4"));
        const QString picture = m_dir.filePath(QStringLiteral("cam03-snapshot.png"));
        const QString sound = m_dir.filePath(QStringLiteral("chime.wav"));
        if (QFile::copy(QStringLiteral(":/demo/media/sample.mp4"), video))
            samples.insert(QStringLiteral("video"), video);
        if (MediaSamples::writeSnapshot(picture))
            samples.insert(QStringLiteral("picture"), picture);
        if (MediaSamples::writeChime(sound))
            samples.insert(QStringLiteral("sound"), sound);
        samples.insert(QStringLiteral("missingPicture"),
                       m_dir.filePath(QStringLiteral("deleted-snapshot.png")));
    }
    DemoHost::note(
        QStringLiteral("media samples in %1").arg(m_dir.isValid() ? m_dir.path() : "(none)"));

    // Every page of the default profile finds them before its own scripts run.
    DemoHost::publishToPages(QStringLiteral("TaviDemoMedia"), samples);
}

void DemoMedia::onProgressTimerTimeout()
{
    // What the video window shows, once a second of playback.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->inherits("PlayVideoDialog") || !w->isVisible())
            continue;
        const auto* slider = w->findChild<QSlider*>(QStringLiteral("positionSlider"));
        if (!slider || slider->value() <= 0 || slider->value() / 1000 == m_nLastSecond)
            continue;
        m_nLastSecond = slider->value() / 1000;
        DemoHost::note(QStringLiteral("video window at %1 of %2 ms")
                           .arg(slider->value())
                           .arg(slider->maximum()));
    }
}

bool DemoMedia::eventFilter(QObject* watched, QEvent* event)
{
    if (m_nCloseAfterMs > 0 && event->type() == QEvent::Show && watched->isWidgetType()
        && (watched->inherits("ImageDialog") || watched->inherits("CMessageBox"))) {
        closeLater(static_cast<QWidget*>(watched));
    }
    return QObject::eventFilter(watched, event);
}

void DemoMedia::closeLater(QWidget* dialog)
{
    // The button a user would press: the close button of the picture viewer,
    // "Prompt later" in the alarm box.
    const bool alarm = dialog->inherits("CMessageBox");
    const QString buttonName
        = alarm ? QStringLiteral("promptLaterButton") : QStringLiteral("closeButton");
    QPointer<QWidget> target(dialog);
    QTimer::singleShot(m_nCloseAfterMs, this, [target, buttonName, alarm] {
        if (!target)
            return;
        auto* button = target->findChild<QPushButton*>(buttonName);
        DemoHost::note(
            QStringLiteral("unattended run: pressing %1 in the %2")
                .arg(alarm ? QStringLiteral("\"%1\"").arg(button ? button->text() : QString())
                           : QStringLiteral("the close button"),
                     alarm ? QStringLiteral("alarm tips box") : QStringLiteral("picture viewer")));
        if (button)
            button->click();
        else
            target->close();
    });
}
