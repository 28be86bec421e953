#pragma once

#include "taviwebmodule_export.h"

#include <QtWebEngineWidgets/QWebEngineView>

class QCloseEvent;
class QFocusEvent;

// The web widget's view: never closes, raises its window on focus.
class TAVIWEBMODULE_EXPORT MyWebEngineView : public QWebEngineView
{
    Q_OBJECT
public:
    // A view in parent; not a native window.
    explicit MyWebEngineView(QWidget* parent = nullptr);
    ~MyWebEngineView() override;

protected:
    // Raises and activates the view's window.
    void focusInEvent(QFocusEvent* event) override;
    // Ignores the close: the owner of the web widget ends the view.
    void closeEvent(QCloseEvent* event) override;
};
