#pragma once

#include "TaviHostGlobal.h"
#include "TaviTypes.h"

#include <QtWidgets/QFrame>

// A page element of the host's main window.
class TAVICOMMONUI_API IClientUiElement
{
public:
    virtual ~IClientUiElement();

    virtual void preSetTab();
    virtual void preSetState();
    virtual void setTab(TAVI::TabType tab);
    virtual void setState(TAVI::StateType state);
    virtual void setMode(TAVI::ModeType mode);
    virtual bool init(TAVI::TabType tab, TAVI::StateType state, void* data);
    virtual void unInit(void* data);
    virtual void setNotify(const TAVI::_NOTIFY_PARAM* notify);
    virtual void setEvent(const TAVI::_EVENT_INFO* event, int param1, int param2);
    virtual QWidget* rightControl();
    virtual QWidget* menu();
    virtual void restore();
};

// The host's tab-page base.
class TAVICOMMONUI_API TaviPage : public QFrame, public IClientUiElement
{
    Q_OBJECT
public:
    explicit TaviPage(QWidget* parent);
    ~TaviPage() override;
};
