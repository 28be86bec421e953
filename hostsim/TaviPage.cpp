#include "TaviPage.h"

// A page that overrides nothing behaves as an inert element of the main
// window: every hook is a no-op.

IClientUiElement::~IClientUiElement() = default;

void IClientUiElement::preSetTab() {}
void IClientUiElement::preSetState() {}
void IClientUiElement::setTab(TAVI::TabType /*tab*/) {}
void IClientUiElement::setState(TAVI::StateType /*state*/) {}
void IClientUiElement::setMode(TAVI::ModeType /*mode*/) {}

bool IClientUiElement::init(TAVI::TabType /*tab*/, TAVI::StateType /*state*/, void* /*data*/)
{
    return true;
}

void IClientUiElement::unInit(void* /*data*/) {}
void IClientUiElement::setNotify(const TAVI::_NOTIFY_PARAM* /*notify*/) {}
void IClientUiElement::setEvent(const TAVI::_EVENT_INFO* /*event*/, int /*param1*/, int /*param2*/)
{}

QWidget* IClientUiElement::rightControl()
{
    return nullptr;
}

QWidget* IClientUiElement::menu()
{
    return nullptr;
}

void IClientUiElement::restore() {}

TaviPage::TaviPage(QWidget* parent)
    : QFrame(parent)
{}

TaviPage::~TaviPage() = default;
