#include "FocusFrame.h"

#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QAbstractSlider>
#include <SkinMgr.h>

namespace {

constexpr int kPenWidth = 2;

} // namespace

FocusFrame::FocusFrame(QWidget* window)
    : QObject(window)
{
    setObjectName(QStringLiteral("focusFrame"));
}

void FocusFrame::install(QWidget* window)
{
    auto* frame = new FocusFrame(window);
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        if (!qobject_cast<QAbstractButton*>(control) && !qobject_cast<QAbstractSlider*>(control))
            continue;
        // Popups of their own (the host's volume menu) keep their ways.
        if (control->window() != window)
            continue;
        control->setFocusPolicy(Qt::TabFocus);
        control->installEventFilter(frame);
    }
}

QColor FocusFrame::colour()
{
    return QColor::fromString(taviSkinMgr()->oneLevelTextColor());
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Paint)
        return false;
    auto* control = static_cast<QWidget*>(watched);
    if (!control->hasFocus())
        return false;
    // The control paints itself first (QObject::event is public), then the
    // frame goes on top; the event is then done.
    static_cast<QObject*>(control)->event(event);
    QPainter painter(control);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour(), kPenWidth));
    painter.setBrush(Qt::NoBrush);
    const QRectF box = QRectF(control->rect()).adjusted(1, 1, -1, -1);
    // Pill-shaped text buttons get a pill; icons and sliders a square frame.
    const auto* button = qobject_cast<QAbstractButton*>(control);
    const qreal radius = button && !button->text().isEmpty() ? box.height() / 2 : 2;
    painter.drawRoundedRect(box, radius, radius);
    return true;
}
