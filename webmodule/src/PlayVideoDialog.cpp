#include "PlayVideoDialog.h"

#include "FocusFrame.h"
#include "HostLines.h"
#include "ViewerLines.h"

#include <QtCore/QEvent>
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtGui/QCursor>
#include <QtGui/QIcon>
#include <QtGui/QKeyEvent>
#include <QtGui/QPalette>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>
#include <SkinMgr.h>
#include <TaviLogic.h>
#include <VolumeMenu.h>

namespace {

// Every playback line goes to the host's log, where the host's support
// people look for the stream SDK's side of a problem.
namespace HostLine = TaviWebModuleInternal::HostLine;

void logLoadVideo(const QString& path)
{
    HostLine::log(QStringLiteral("[PlayVideoDialog] LoadVideo: ") + path);
}

// Host notification sent before the sound is opened, so that the host can
// release the audio device it may hold for live views.
constexpr std::int64_t kNotifyOpenSound = 59;
constexpr int kSoundOpenDelayMs = 500;
constexpr int kPositionPollMs = 500;
// Left and Right seek by five seconds. The SDK's positions are milliseconds
// (as in the host's stream SDK and its simulator).
constexpr int kSeekStep = 5000;

const QString kVolumeFolder = QStringLiteral("PlayView");
const QString kVolumeOpen = QStringLiteral("icon_volume_open.png");
const QString kVolumeClose = QStringLiteral("icon_volume_close.png");

QPixmap volumePixmap(const QString& file)
{
    return taviSkinMgr()->getPixmap(kVolumeFolder, file, QSize(-1, -1), -1, -1);
}

} // namespace

void TaviWebModuleInternal::logVideoNotThere(const QString& path)
{
    logLoadVideo(path);
    HostLine::log(QStringLiteral("[PlayVideoDialog] file not exists: ") + path);
}

PlayVideoDialog::PlayVideoDialog(QWidget* parent)
    : QWidget(parent)
    , m_pVideoWidget(nullptr)
    , m_pPlayPauseBtn(nullptr)
    , m_pSpeakerBtn(nullptr)
    , m_pSlider(nullptr)
    , m_pCloseBtn(nullptr)
    , m_pVolumeMenu(nullptr)
    , m_pPosTimer(nullptr)
    , m_nPlayHandle(-1)
    , m_bPaused(false)
    , m_bSoundOn(false)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setStyleSheet(QStringLiteral("background-color: %1;").arg(taviSkinMgr()->themeThirdColor()));
    resize(800, 600);
    // Shown off screen first: the native windows exist (the SDK needs the
    // video area's window id) before anything appears.
    setAttribute(Qt::WA_DontShowOnScreen);
    initUI();
}

PlayVideoDialog::~PlayVideoDialog()
{
    if (m_pPosTimer)
        m_pPosTimer->stop();
    releasePlayback();
}

void PlayVideoDialog::LoadVideo(const QString& path)
{
    if (!QFile::exists(path)) {
        TaviWebModuleInternal::logVideoNotThere(path);
        return;
    }
    logLoadVideo(path);
    IStreamSdk* sdk = streamSdk();
    if (!sdk) {
        HostLine::log(QStringLiteral("[PlayVideoDialog] stream sdk not available"));
        return;
    }

    releasePlayback();
    m_strFilePath = path;
    resetSpeakerState();

    const QByteArray utf8 = path.toUtf8();
    const WId wnd = m_pVideoWidget->winId();
    int handle = -1;
    const int ret = sdk->StartFilePlayback(utf8.constData(), wnd, &handle, 0);
    if (ret == 0 && handle >= 0) {
        m_nPlayHandle = handle;
        m_bPaused = false;
        m_pPosTimer->start();
        HostLine::log(QStringLiteral("[PlayVideoDialog] StartFilePlayback ok, handle=%1, winId=%2")
                          .arg(handle)
                          .arg(static_cast<quint64>(wnd)));
    } else {
        HostLine::log(
            QStringLiteral("[PlayVideoDialog] StartFilePlayback failed: ret=%1").arg(ret));
    }
    // Now it may come on screen: with the picture, or empty so that the user
    // can retry with the play button or close it.
    setAttribute(Qt::WA_DontShowOnScreen, false);
    hide();
    show();
    // The keys work at once; no control shows a focus frame until Tab.
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    refreshPlayPauseIcon();
}

IStreamSdk* PlayVideoDialog::streamSdk() const
{
    return TaviLogic::m_ClientSdk ? TaviLogic::m_ClientSdk->GetStreamSdk() : nullptr;
}

bool PlayVideoDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The window's keys, whichever of its controls has the focus. A focused
    // button keeps Space (and takes Enter) for itself, as buttons do.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QPushButton*>(watched);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return QWidget::eventFilter(watched, event);
        switch (key->key()) {
        case Qt::Key_Space:
            if (button)
                break;
            onPlayPauseClicked();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!button)
                break;
            button->click();
            return true;
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
            if (m_nPlayHandle >= 0) {
                int target
                    = m_pSlider->value() + (key->key() == Qt::Key_Left ? -kSeekStep : kSeekStep);
                if (key->key() == Qt::Key_Home)
                    target = m_pSlider->minimum();
                else if (key->key() == Qt::Key_End)
                    target = m_pSlider->maximum();
                m_pSlider->setValue(target);
                onSliderMoved(m_pSlider->value());
            }
            return true;
        case Qt::Key_M:
            onSpeakerClicked();
            return true;
        case Qt::Key_Escape:
            close();
            return true;
        default:
            break;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (watched == m_pSpeakerBtn) {
        if (event->type() == QEvent::Enter) {
            if (m_bSoundOn)
                showVolumeMenu();
        } else if (event->type() == QEvent::Leave) {
            // Moving from the button up into the popup keeps it open.
            const bool intoPopup = m_pVolumeMenu
                && m_pVolumeMenu->rect().contains(m_pVolumeMenu->mapFromGlobal(QCursor::pos()));
            if (!intoPopup)
                hideVolumeMenu();
        }
    } else if (watched == m_pVolumeMenu && event->type() == QEvent::Leave) {
        hideVolumeMenu();
    }
    return QWidget::eventFilter(watched, event);
}

void PlayVideoDialog::onPlayPauseClicked()
{
    if (m_nPlayHandle >= 0) {
        IStreamSdk* sdk = streamSdk();
        if (!sdk)
            return;
        if (m_bPaused) {
            sdk->ResumeFilePlayback(m_nPlayHandle);
            m_bPaused = false;
        } else {
            sdk->PauseFilePlayback(m_nPlayHandle);
            m_bPaused = true;
        }
        refreshPlayPauseIcon();
        return;
    }
    // Idle after a failed start or the end of the file: play it again.
    if (!m_strFilePath.isEmpty())
        LoadVideo(m_strFilePath);
}

void PlayVideoDialog::onSpeakerClicked()
{
    if (m_nPlayHandle < 0)
        return;
    if (m_bSoundOn) {
        applySoundState(false);
        hideVolumeMenu();
    } else {
        applySoundState(true);
        showVolumeMenu();
    }
}

void PlayVideoDialog::onSliderMoved(int value)
{
    IStreamSdk* sdk = streamSdk();
    if (sdk && m_nPlayHandle >= 0)
        sdk->SeekFilePlayback(m_nPlayHandle, value);
}

void PlayVideoDialog::onUpdatePosition()
{
    IStreamSdk* sdk = streamSdk();
    if (!sdk || m_nPlayHandle < 0)
        return;
    int current = 0;
    int total = 0;
    if (sdk->GetFilePlaybackPos(m_nPlayHandle, &current, &total) != 0)
        return;
    // A total of 0 means the SDK does not know the length yet.
    if (total > 0)
        m_pSlider->setRange(0, total);
    // While the user holds the handle, setValue() would emit sliderMoved and
    // seek back to the polled position, undoing the drag.
    if (!m_pSlider->isSliderDown())
        m_pSlider->setValue(current);

    if (total >= 1 && current >= total) {
        m_pPosTimer->stop();
        releasePlayback();
        refreshPlayPauseIcon();
        m_pSlider->setValue(m_pSlider->maximum());
    }
}

void PlayVideoDialog::initUI()
{
    initVideoWidget();
    initSpeaker(); // before the control bar, which lays it out
    initControlBar();
    initVolumeMenu();
    refreshPlayPauseIcon();

    // Keyboard: the window itself holds the focus (a click anywhere gives it
    // back), Tab walks the buttons and the slider.
    setFocusPolicy(Qt::ClickFocus);
    FocusFrame::install(this);
    setTabOrder(m_pPlayPauseBtn, m_pSpeakerBtn);
    setTabOrder(m_pSpeakerBtn, m_pSlider);
    setTabOrder(m_pSlider, m_pCloseBtn);
    for (QWidget* w : { static_cast<QWidget*>(this), static_cast<QWidget*>(m_pPlayPauseBtn),
                        static_cast<QWidget*>(m_pSlider), static_cast<QWidget*>(m_pCloseBtn) })
        w->installEventFilter(this);
    setAccessibleName(tr("Video playback"));
    m_pVideoWidget->setAccessibleName(tr("Video"));
    m_pSlider->setAccessibleName(tr("Position"));
    m_pSlider->setAccessibleDescription(
        tr("Left and Right seek by 5 seconds, Home and End go to the start and the end"));
    m_pCloseBtn->setAccessibleName(tr("Close"));
    m_pCloseBtn->setAccessibleDescription(tr("Closes the video window (Escape)"));
    m_pVolumeMenu->setAccessibleName(tr("Volume"));
}

void PlayVideoDialog::initVideoWidget()
{
    m_pVideoWidget = new QWidget(this);
    m_pVideoWidget->setObjectName(QStringLiteral("videoArea"));
    // The SDK draws into this window directly.
    m_pVideoWidget->setAttribute(Qt::WA_NativeWindow);
    m_pVideoWidget->setAutoFillBackground(true);
    QPalette palette = m_pVideoWidget->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(Qt::black));
    m_pVideoWidget->setPalette(palette);
    m_pVideoWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PlayVideoDialog::initSpeaker()
{
    m_pSpeakerBtn = new QPushButton(this);
    m_pSpeakerBtn->setObjectName(QStringLiteral("speakerButton"));
    m_pSpeakerBtn->setFixedSize(20, 20);
    m_pSpeakerBtn->setIconSize(QSize(20, 20));
    m_pSpeakerBtn->setStyleSheet(
        QStringLiteral("QPushButton { background: transparent; border: none; padding: 0px; }"
                       "QPushButton:hover { background: transparent; border: none; }"
                       "QPushButton:pressed { background: transparent; border: none; }"));
    m_pSpeakerBtn->setIcon(QIcon(volumePixmap(kVolumeClose)));
    m_pSpeakerBtn->installEventFilter(this);
    connect(m_pSpeakerBtn, &QPushButton::clicked, this, &PlayVideoDialog::onSpeakerClicked);
}

void PlayVideoDialog::initControlBar()
{
    const SkinMgr* skin = taviSkinMgr();

    m_pPlayPauseBtn = new QPushButton(this);
    m_pPlayPauseBtn->setObjectName(QStringLiteral("playPauseButton"));
    m_pPlayPauseBtn->setFixedSize(20, 20);
    connect(m_pPlayPauseBtn, &QPushButton::clicked, this, &PlayVideoDialog::onPlayPauseClicked);

    m_pSlider = new QSlider(Qt::Horizontal, this);
    m_pSlider->setObjectName(QStringLiteral("positionSlider"));
    // sliderMoved only comes from the user; the poll's setValue must not seek.
    connect(m_pSlider, &QSlider::sliderMoved, this, &PlayVideoDialog::onSliderMoved);

    m_pCloseBtn = new QPushButton(this);
    m_pCloseBtn->setObjectName(QStringLiteral("closeButton"));
    m_pCloseBtn->setFixedSize(25, 25);
    m_pCloseBtn->setStyleSheet(skin->patchSkinPaths(
        QStringLiteral("QPushButton { border: none; image: "
                       "url(./skin/client/default/MainFrameUI/icon_close.png); }")));
    connect(m_pCloseBtn, &QPushButton::clicked, this, &QWidget::close);

    m_pPosTimer = new QTimer(this);
    m_pPosTimer->setInterval(kPositionPollMs);
    connect(m_pPosTimer, &QTimer::timeout, this, &PlayVideoDialog::onUpdatePosition);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pCloseBtn, 0, Qt::AlignRight);
    layout->addWidget(m_pVideoWidget, 1);
    auto* controls = new QHBoxLayout;
    controls->addWidget(m_pPlayPauseBtn);
    controls->addWidget(m_pSpeakerBtn);
    controls->addWidget(m_pSlider);
    layout->addLayout(controls, 0);
}

void PlayVideoDialog::initVolumeMenu()
{
    m_pVolumeMenu = new VolumeMenu(this);
    m_pVolumeMenu->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_pVolumeMenu->installEventFilter(this);
    // Only the step between silent and audible reaches the SDK; the level
    // itself is the host's.
    connect(m_pVolumeMenu, &VolumeMenu::sig_volumeSliderChanged, this, [this](int value) {
        if (m_nPlayHandle >= 0)
            applySoundState(value != 0);
    });
}

void PlayVideoDialog::refreshPlayPauseIcon()
{
    if (!m_pPlayPauseBtn)
        return;
    const bool showPlay = m_nPlayHandle < 0 || m_bPaused;
    const QString image
        = showPlay ? QStringLiteral("replay_play.png") : QStringLiteral("replay_play_pause.png");
    m_pPlayPauseBtn->setStyleSheet(taviSkinMgr()->patchSkinPaths(
        QStringLiteral("border-image:url(./skin/client/default/NvrPlayPage/%1);").arg(image)));
    // Named after what it does next, as its icon shows.
    m_pPlayPauseBtn->setAccessibleName(showPlay ? tr("Play") : tr("Pause"));
    m_pPlayPauseBtn->setAccessibleDescription(tr("Plays or pauses the video (Space)"));
}

void PlayVideoDialog::updateSpeakerIcon()
{
    if (!m_pSpeakerBtn)
        return;
    m_pSpeakerBtn->setIcon(QIcon(volumePixmap(m_bSoundOn ? kVolumeOpen : kVolumeClose)));
    m_pSpeakerBtn->setAccessibleName(m_bSoundOn ? tr("Turn sound off") : tr("Turn sound on"));
    m_pSpeakerBtn->setAccessibleDescription(tr("Turns the sound on or off (M)"));
}

void PlayVideoDialog::resetSpeakerState()
{
    m_bSoundOn = false;
    if (m_pVolumeMenu)
        m_pVolumeMenu->hide();
    updateSpeakerIcon();
}

void PlayVideoDialog::applySoundState(bool on)
{
    if (m_nPlayHandle < 0 || on == m_bSoundOn)
        return;
    IStreamSdk* sdk = streamSdk();
    if (!sdk)
        return;

    if (on) {
        if (TaviLogic::s_transmitNotify) {
            TAVI::_NOTIFY_PARAM notify { kNotifyOpenSound, 0 };
            TaviLogic::s_transmitNotify(&notify);
        }
        // The host needs a moment to let go of the audio device. Bound to the
        // dialog, so the shot never fires after it is gone.
        QTimer::singleShot(kSoundOpenDelayMs, this, [this, sdk] {
            if (m_nPlayHandle < 0)
                return;
            const int ret = sdk->OpenSound(m_nPlayHandle);
            HostLine::log(QStringLiteral("[PlayVideoDialog] OpenSound ret=%1, handle=%2")
                              .arg(ret)
                              .arg(m_nPlayHandle));
            if (ret != -1) {
                m_bSoundOn = true;
                updateSpeakerIcon();
            } else {
                // "The audio device may still be in use, or the video has no
                // sound track."
                HostLine::log(QStringLiteral("[PlayVideoDialog] OpenSound failed (ret=-1) - "
                                             "可能音频设备仍被占用或视频无音轨"));
            }
        });
        return;
    }

    const int ret = sdk->CloseSound(m_nPlayHandle);
    HostLine::log(QStringLiteral("[PlayVideoDialog] CloseSound ret=%1").arg(ret));
    m_bSoundOn = false;
    updateSpeakerIcon();
}

void PlayVideoDialog::showVolumeMenu()
{
    if (!m_pVolumeMenu || !m_pSpeakerBtn)
        return;
    // Centred above the speaker button.
    const QPoint corner = m_pSpeakerBtn->mapToGlobal(QPoint(0, 0));
    m_pVolumeMenu->move(corner.x() - m_pVolumeMenu->width() / 2 + m_pSpeakerBtn->width() / 2,
                        corner.y() - m_pVolumeMenu->height());
    // The refresh must not come back as a volume change.
    const bool wasBlocked = m_pVolumeMenu->blockSignals(true);
    m_pVolumeMenu->updateVolume();
    m_pVolumeMenu->blockSignals(wasBlocked);
    m_pVolumeMenu->show();
}

void PlayVideoDialog::hideVolumeMenu()
{
    if (m_pVolumeMenu && !m_pVolumeMenu->isHidden())
        m_pVolumeMenu->hide();
}

void PlayVideoDialog::releasePlayback()
{
    if (m_nPlayHandle < 0)
        return;
    if (IStreamSdk* sdk = streamSdk()) {
        if (m_bSoundOn)
            sdk->CloseSound(m_nPlayHandle);
        sdk->StopFilePlayback(m_nPlayHandle);
    }
    m_nPlayHandle = -1;
    m_bPaused = false;
    resetSpeakerState();
}
