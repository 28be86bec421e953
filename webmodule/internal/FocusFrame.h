#pragma once

#include <QtCore/QObject>
#include <QtGui/QColor>

class QWidget;

// Keyboard use of the module's windows: their buttons and sliders are reached
// with Tab (not with the mouse, so a click leaves no focus mark behind) and
// show a frame in the skin's text colour while they hold the focus. The frame
// is drawn over what the control paints itself, so the controls' own style
// sheets stay untouched.
class FocusFrame : public QObject
{
public:
    // Frames the buttons and sliders of window that exist now (not those of
    // its popups, which are windows of their own); the filter is a child of
    // window and dies with it.
    static void install(QWidget* window);
    // The frame's colour.
    static QColor colour();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FocusFrame(QWidget* window);
};
