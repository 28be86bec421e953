#include "VolumeMenu.h"

#include "SkinMgr.h"

#include <QtWidgets/QSlider>
#include <QtWidgets/QVBoxLayout>
#include <atomic>

namespace {

// The host has one output volume, shared by every player it opens.
std::atomic<int> s_volume { 50 };

} // namespace

VolumeMenu::VolumeMenu(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("VolumeMenu"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(36, 120);

    m_pSlider = new QSlider(Qt::Vertical, this);
    m_pSlider->setRange(0, 100);
    m_pSlider->setValue(s_volume.load());
    m_pSlider->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 10, 8, 10);
    layout->addWidget(m_pSlider, 0, Qt::AlignHCenter);

    const SkinMgr* skin = taviSkinMgr();
    setStyleSheet(QStringLiteral(
                      "#VolumeMenu { background: %1; border: 1px solid %2; border-radius: 4px; }"
                      "QSlider::groove:vertical { background: %3; width: 4px; border-radius: 2px; }"
                      "QSlider::sub-page:vertical { background: %3; border-radius: 2px; }"
                      "QSlider::add-page:vertical { background: %4; border-radius: 2px; }"
                      "QSlider::handle:vertical { background: %5; height: 12px; width: 12px;"
                      " margin: 0 -4px; border-radius: 6px; }"
                      "QSlider::handle:vertical:hover { background: %4; }")
                      .arg(skin->dlgBackgroundColor(), skin->dlgBorderColor(),
                           skin->lineEditColor(), skin->hoverRedColor(),
                           skin->oneLevelTextColor()));

    // Emitting from valueChanged also covers updateVolume(); callers that do
    // not want to hear their own refresh block this popup's signals around it.
    connect(m_pSlider, &QSlider::valueChanged, this, [this](int value) {
        s_volume.store(value);
        Q_EMIT sig_volumeSliderChanged(value);
    });
}

VolumeMenu::~VolumeMenu() = default;

void VolumeMenu::updateVolume()
{
    m_pSlider->setValue(s_volume.load());
}
