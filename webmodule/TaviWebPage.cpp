#include "TaviWebPage.h"

#include <QtGui/QResizeEvent>
#include <QtWidgets/QVBoxLayout>
#include <SkinMgr.h>

TaviWebPage::TaviWebPage(QWidget* parent, const QString& url)
    : TaviPage(nullptr)
    , m_pParentWidget(nullptr)
    , m_webWidgets(this)
{
    setObjectName(QStringLiteral("webPageFrame"));
    setWindowFlags(Qt::Widget);
    setAttribute(Qt::WA_NativeWindow, true);
    setStyleSheet(
        QStringLiteral("#webPageFrame{ background-color:%1;}").arg(taviSkinMgr()->webPageSolid()));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->addWidget(m_webWidgets.view(), 0, Qt::AlignVCenter);

    m_pParentWidget = parent;
    m_webWidgets.OpenUrl(url);
}

// m_webWidgets goes first, before the view's parent (this page) dies.
TaviWebPage::~TaviWebPage() = default;

void TaviWebPage::reload()
{
    m_webWidgets.reload();
}

void TaviWebPage::resizeEvent(QResizeEvent* event)
{
    Q_UNUSED(event);
    // The layout's one-pixel margins above and below.
    m_webWidgets.setFixedSize(width(), height() - 2);
}
