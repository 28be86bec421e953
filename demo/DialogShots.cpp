// Renders the module's media dialogs offscreen into PNG files for the
// documentation:  tavi-dialog-shots [output folder, default docs/images]

#include "MediaSamples.h"

#include <ClientSdk.h>
#include <ImageDialog.h>
#include <MyMessageBox.h>
#include <PlayVideoDialog.h>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>
#include <TaviLogic.h>
#include <VolumeMenu.h>
#include <cstdio>

namespace {

// Shows a still frame in the render window and stands 12 s into a 30 s file:
// enough for the dialog to look as it does while playing.
class StillFrameSdk : public IStreamSdk, public IClientSdk
{
public:
    int PauseFilePlayback(int) override { return 0; }
    int ResumeFilePlayback(int) override { return 0; }
    int SeekFilePlayback(int, int) override { return 0; }
    int OpenSound(int) override { return 0; }
    int CloseSound(int) override { return 0; }
    int StartFilePlayback(const char*, WId wnd, int* handle, int) override
    {
        QWidget* window = QWidget::find(wnd);
        if (!window || !handle)
            return -1;
        auto* frame = new QLabel(window);
        frame->setPixmap(QPixmap::fromImage(MediaSamples::snapshot()));
        frame->setScaledContents(true);
        frame->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(frame);
        *handle = 1;
        return 0;
    }
    int StopFilePlayback(int) override { return 0; }
    int GetFilePlaybackPos(int, int* pos, int* total) override
    {
        *pos = 12000;
        *total = 30000;
        return 0;
    }
    int SetPlaybackSpeed(int, int) override { return -1; }

    IStreamSdk* GetStreamSdk() override { return this; }
    IRequestSdk* GetRequestSdk() override { return nullptr; }
    int GetVersion() override { return 1; }
};

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
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
    QMetaObject::invokeMethod(&dialog, "onUpdatePosition");
    // Sound on, with the volume popup above the speaker.
    dialog.findChild<QPushButton*>(QStringLiteral("speakerButton"))->click();
    settle(700);

    QImage image = dialog.grab().toImage();
    if (auto* popup = dialog.findChild<VolumeMenu*>(); popup && popup->isVisible()) {
        QPainter p(&image);
        p.drawPixmap(popup->pos() - dialog.pos(), popup->grab());
    }
    return save(image, out, "video-dialog.png");
}

bool shootPictureViewer(const QDir& out, const QString& picture, const char* name)
{
    ImageDialog dialog(picture, nullptr);
    dialog.show();
    settle(50);
    return save(dialog.grab().toImage(), out, name);
}

bool shootAlarmBox(const QDir& out)
{
    QDialog owner;
    CMessageBox box(&owner);
    bool ok = false;
    QTimer::singleShot(100, &box, [&] {
        ok = save(box.grab().toImage(), out, "alarm-tips.png");
        box.findChild<QPushButton*>(QStringLiteral("promptLaterButton"))->click();
    });
    box.DevAlarmTips(QStringLiteral("Camera 03, loading bay: motion detected in zone 3"));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
    QFile clipFile(clip);
    if (!scratch.isValid() || !QDir().mkpath(folder) || !MediaSamples::writeSnapshot(picture)
        || !clipFile.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot prepare the sample files\n");
        return 1;
    }
    clipFile.close();

    StillFrameSdk sdk;
    TaviLogic::m_ClientSdk = &sdk;
    bool ok = shootVideoDialog(out, clip);
    ok = shootPictureViewer(out, picture, "picture-viewer.png") && ok;
    ok = shootPictureViewer(out, scratch.filePath(QStringLiteral("Snapshots/deleted.png")),
                            "picture-viewer-missing.png")
        && ok;
    ok = shootAlarmBox(out) && ok;
    TaviLogic::m_ClientSdk = nullptr;
    return ok ? 0 : 1;
}
