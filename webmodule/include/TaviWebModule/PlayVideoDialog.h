#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QString>
#include <QtWidgets/QWidget>

class IStreamSdk;
class QPushButton;
class QSlider;
class QTimer;
class VolumeMenu;

// Frameless playback window for a local video file. The host's stream SDK
// renders into the native window of the video area; the dialog polls the
// position and drives pause, seek and sound.
class TAVIWEBMODULE_EXPORT PlayVideoDialog : public QWidget
{
    Q_OBJECT
public:
    // A frameless window; nothing plays before LoadVideo().
    explicit PlayVideoDialog(QWidget* parent = nullptr);
    ~PlayVideoDialog() override;

    // Starts playback of path; also used to replay.
    void LoadVideo(const QString& path);
    // The stream SDK, or null; fetched anew at each use.
    IStreamSdk* streamSdk() const;

protected:
    // Shows and hides the volume popup as the pointer enters and leaves the
    // speaker button and the popup.
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void onPlayPauseClicked();
    void onSpeakerClicked();
    void onSliderMoved(int value);
    void onUpdatePosition();

private:
    void initUI();
    void initVideoWidget();
    void initSpeaker();
    void initControlBar();
    void initVolumeMenu();
    void refreshPlayPauseIcon();
    void updateSpeakerIcon();
    void resetSpeakerState();
    void applySoundState(bool on);
    void showVolumeMenu();
    void hideVolumeMenu();
    void releasePlayback();

    QWidget* m_pVideoWidget;
    QPushButton* m_pPlayPauseBtn;
    QPushButton* m_pSpeakerBtn;
    QSlider* m_pSlider;
    QPushButton* m_pCloseBtn;
    VolumeMenu* m_pVolumeMenu;
    QTimer* m_pPosTimer;
    QString m_strFilePath;
    int m_nPlayHandle;
    bool m_bPaused;
    bool m_bSoundOn;
};
