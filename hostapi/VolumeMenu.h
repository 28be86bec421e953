#pragma once

#include "TaviHostGlobal.h"

#include <QtWidgets/QWidget>

class QSlider;

// The host's volume popup.
class TAVICOMMONUI_API VolumeMenu : public QWidget
{
    Q_OBJECT
public:
    // A popup child of parent; the caller sets its window flags.
    explicit VolumeMenu(QWidget* parent);
    ~VolumeMenu() override;

    // Brings the slider up to the host's current volume.
    void updateVolume();
    // The popup's slider.
    QSlider* slider() const { return m_pSlider; }

Q_SIGNALS:
    // The new slider value; 0 means silent.
    void sig_volumeSliderChanged(int value);

private:
    QSlider* m_pSlider = nullptr;
};
