#include "MyWebEngineView.h"

#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFocusEvent>

MyWebEngineView::MyWebEngineView(QWidget* parent)
    : QWebEngineView(parent)
{}

MyWebEngineView::~MyWebEngineView() = default;

void MyWebEngineView::focusInEvent(QFocusEvent* event)
{
    QWidget* window = parentWidget();
    while (window && !window->isWindow())
        window = window->parentWidget();
    if (window) {
        // Deferred to the next turn; dropped if the window dies first.
        QTimer::singleShot(0, Qt::PreciseTimer, window, [window] {
            window->raise();
            window->activateWindow();
        });
    }
    event->ignore();
}

void MyWebEngineView::closeEvent(QCloseEvent* event)
{
    event->ignore();
}
