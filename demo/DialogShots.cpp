// Shows the module's media dialogs and writes PNG files of them for the
// documentation:  tavi-dialog-shots [output folder, default docs/images]
// On a display (run it under xvfb-run) each picture is what the screen
// shows; without one the dialogs draw themselves offscreen.

#include "MediaSamples.h"

#include <ImageDialog.h>
#include <MyMessageBox.h>
#include <PlayVideoDialog.h>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtCore/QTranslator>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>
#include <TaviSim.h>
#include <VolumeMenu.h>
#include <cstdio>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool onDisplay()
{
    return QGuiApplication::platformName() != QLatin1String("offscreen");
}

// The dialog as the screen shows it (with any window over it), or as it
// draws itself offscreen.
QImage shotOf(QWidget& dialog)
{
    if (onDisplay()) {
        const QRect area
            = dialog.frameGeometry().translated(-dialog.screen()->geometry().topLeft());
        return dialog.screen()
            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
            .toImage();
    }
    return dialog.grab().toImage();
}

bool save(const QImage& image, const QDir& dir, const char* name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    const bool ok = image.save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

bool shootVideoDialog(const QDir& out, const QString& clip)
{
    PlayVideoDialog dialog;
    dialog.resize(720, 480);
    dialog.move(100, 200);
    dialog.show();
    dialog.LoadVideo(clip);
    settle(2000); // a few frames into the clip
    // Sound on, with the volume popup above the speaker.
    dialog.findChild<QPushButton*>(QStringLiteral("speakerButton"))->click();
    settle(700);

    QImage image = shotOf(dialog);
    // Offscreen the popup, a window of its own, is not in the dialog's picture.
    if (auto* popup = dialog.findChild<VolumeMenu*>();
        !onDisplay() && popup && popup->isVisible()) {
        QPainter p(&image);
        p.drawPixmap(popup->pos() - dialog.pos(), popup->grab());
    }
    return save(image, out, "video-dialog.png");
}

// As a keyboard user sees it: Tab has reached the play button, which wears
// the focus frame.
bool shootVideoDialogByKeyboard(const QDir& out, const QString& clip)
{
    PlayVideoDialog dialog;
    dialog.resize(720, 480);
    dialog.move(100, 200);
    dialog.show();
    dialog.LoadVideo(clip);
    settle(1500);
    if (QWidget* focus = QApplication::focusWidget()) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(focus, &tab);
    }
    settle(300);
    return save(shotOf(dialog), out, "video-dialog-keyboard.png");
}

bool shootPictureViewer(const QDir& out, const QString& picture, const char* name)
{
    ImageDialog dialog(picture, nullptr);
    dialog.show();
    settle(300);
    return save(shotOf(dialog), out, name);
}

bool shootAlarmBox(const QDir& out, const char* name, const QString& message)
{
    QDialog owner;
    CMessageBox box(&owner);
    bool ok = false;
    QTimer::singleShot(300, &box, [&] {
        ok = save(shotOf(box), out, name);
        box.findChild<QPushButton*>(QStringLiteral("promptLaterButton"))->click();
    });
    box.DevAlarmTips(message);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY")
        && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The FFmpeg back end ships with Qt; GStreamer's needs plugins.
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    const QDir out(app.arguments().value(1, QStringLiteral("docs/images")));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }

    QTemporaryDir scratch;
    const QString folder = scratch.filePath(QStringLiteral("Snapshots/2026-01-12"));
    const QString picture = folder + QStringLiteral("/CAM03_loading-bay_101530.png");
    const QString clip = scratch.filePath(QStringLiteral("CAM03_101500.mp4"));
    if (!scratch.isValid() || !QDir().mkpath(folder) || !MediaSamples::writeSnapshot(picture)
        || !QFile::copy(QStringLiteral(":/demo/media/sample.mp4"), clip)) {
        std::fprintf(stderr, "cannot prepare the sample files\n");
        return 1;
    }

    // The simulated stream SDK decodes the clip into the dialog's video area.
    TaviSim::installClientSdk();
    bool ok = shootVideoDialog(out, clip);
    ok = shootPictureViewer(out, picture, "picture-viewer.png") && ok;
    ok = shootPictureViewer(out, scratch.filePath(QStringLiteral("Snapshots/deleted.png")),
                            "picture-viewer-missing.png")
        && ok;
    ok = shootVideoDialogByKeyboard(out, clip) && ok;
    ok = shootAlarmBox(out, "alarm-tips.png",
                       QStringLiteral("Camera 03, loading bay: motion detected in zone 3"))
        && ok;

    // In Chinese, with the translation from the build tree (a CJK font such
    // as fonts-noto-cjk must be installed).
    QTranslator chinese;
    if (chinese.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("taviwebmodule"),
                     QStringLiteral("_"),
                     QCoreApplication::applicationDirPath()
                         + QStringLiteral("/../share/TaviWebModule/translations"))
        && QCoreApplication::installTranslator(&chinese)) {
        ok = shootAlarmBox(out, "alarm-tips-zh.png",
                           QStringLiteral("摄像机 03，装卸区：3 号区域检测到移动"))
            && ok;
    } else {
        std::fprintf(stderr, "cannot load the Chinese translation\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
