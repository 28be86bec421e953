#include "PlayVideoDialog.h"

#include <TaviLogic.h>

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
}

PlayVideoDialog::~PlayVideoDialog() = default;

void PlayVideoDialog::LoadVideo(const QString& path)
{
    Q_UNUSED(path);
}

IStreamSdk* PlayVideoDialog::streamSdk() const
{
    return TaviLogic::m_ClientSdk ? TaviLogic::m_ClientSdk->GetStreamSdk() : nullptr;
}

bool PlayVideoDialog::eventFilter(QObject* watched, QEvent* event)
{
    return QWidget::eventFilter(watched, event);
}

void PlayVideoDialog::onPlayPauseClicked() {}
void PlayVideoDialog::onSpeakerClicked() {}
void PlayVideoDialog::onSliderMoved(int value) { Q_UNUSED(value); }
void PlayVideoDialog::onUpdatePosition() {}
void PlayVideoDialog::initUI() {}
void PlayVideoDialog::initVideoWidget() {}
void PlayVideoDialog::initSpeaker() {}
void PlayVideoDialog::initControlBar() {}
void PlayVideoDialog::initVolumeMenu() {}
void PlayVideoDialog::refreshPlayPauseIcon() {}
void PlayVideoDialog::updateSpeakerIcon() {}
void PlayVideoDialog::resetSpeakerState() {}
void PlayVideoDialog::applySoundState(bool on) { Q_UNUSED(on); }
void PlayVideoDialog::showVolumeMenu() {}
void PlayVideoDialog::hideVolumeMenu() {}
void PlayVideoDialog::releasePlayback() {}
