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
    explicit MyWebEngineView(QWidget* parent = nullptr);
    ~MyWebEngineView() override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
