#pragma once

#include "TaviHostGlobal.h"
#include "TaviTypes.h"

#include <QtWidgets/QFrame>

// A page element of the host's main window. The host calls these
// operations, and its library defines what each does and returns;
// TaviWebPage overrides none of them.
class TAVICOMMONUI_API IClientUiElement
{
public:
    virtual ~IClientUiElement();

    // Before setTab().
    virtual void preSetTab();
    // Before setState().
    virtual void preSetState();
    // The tab the element belongs to.
    virtual void setTab(TAVI::TabType tab);
    // The element's window state.
    virtual void setState(TAVI::StateType state);
    // The element's view mode.
    virtual void setMode(TAVI::ModeType mode);
    // Sets the element up for tab and state with the host's data.
    virtual bool init(TAVI::TabType tab, TAVI::StateType state, void* data);
    // Undoes init().
    virtual void unInit(void* data);
    // A host notification for the element.
    virtual void setNotify(const TAVI::_NOTIFY_PARAM* notify);
    // A host event for the element, with two values of the host's.
    virtual void setEvent(const TAVI::_EVENT_INFO* event, int param1, int param2);
    // The element's controls for the right of the window, or null.
    virtual QWidget* rightControl();
    // The element's menu, or null.
    virtual QWidget* menu();
    // Brings the element back to its first state.
    virtual void restore();
};

// The host's tab-page base.
class TAVICOMMONUI_API TaviPage : public QFrame, public IClientUiElement
{
    Q_OBJECT
public:
    // A page in parent (may be null).
    explicit TaviPage(QWidget* parent);
    ~TaviPage() override;
};
