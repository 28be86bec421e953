#include "TaviWebPage.h"

#include "PagePermissions.h"

#include <QtCore/QMetaMethod>
#include <QtGui/QResizeEvent>
#include <QtWidgets/QVBoxLayout>
#include <SkinMgr.h>

namespace {

// What a web view asks for when nothing holds its size (Qt's own hint).
const QSize kFreeViewHint(640, 480);

// A hint for the view as the page's layout would pass it on, margins added.
QSize pageHint(const QWidget& page, QSize viewHint)
{
    QMargins margins = page.contentsMargins();
    if (page.layout())
        margins += page.layout()->contentsMargins();
    return viewHint + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

} // namespace

TaviWebPage::TaviWebPage(QWidget* parent, const QString& url)
    : TaviWebPage(parent, url, nullptr)
{}

TaviWebPage::TaviWebPage(QWidget* parent, const QString& url, QWebEngineProfile* profile)
    : TaviPage(nullptr)
    , m_pParentWidget(nullptr)
    , m_webWidgets(profile, this)
{
    setObjectName(QStringLiteral("webPageFrame"));
    setWindowFlags(Qt::Widget);
    // A host may still ask for winId(); its ancestors then stay alien.
    setAttribute(Qt::WA_DontCreateNativeAncestors, true);
    setStyleSheet(
        QStringLiteral("#webPageFrame{ background-color:%1;}").arg(taviSkinMgr()->webPageSolid()));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->addWidget(m_webWidgets.view(), 0, Qt::AlignVCenter);

    // A host that holds tab pages handles their pages' events here.
    connect(&m_webWidgets, &VmsWebWidgets::navigationRefused, this,
            &TaviWebPage::navigationRefused);
    connect(&m_webWidgets, &VmsWebWidgets::linkRefused, this, &TaviWebPage::linkRefused);
    connect(&m_webWidgets, &VmsWebWidgets::bridgeWithheld, this, &TaviWebPage::bridgeWithheld);
    connect(&m_webWidgets, &VmsWebWidgets::bridgeCallRefused, this,
            &TaviWebPage::bridgeCallRefused);
    connect(&m_webWidgets, &VmsWebWidgets::blockingBudgetExceeded, this,
            &TaviWebPage::blockingBudgetExceeded);
    connect(&m_webWidgets, &VmsWebWidgets::renderProcessEnded, this,
            &TaviWebPage::renderProcessEnded);
    connect(&m_webWidgets, &VmsWebWidgets::permissionRequested, this,
            &TaviWebPage::permissionRequested);
    connect(&m_webWidgets, &VmsWebWidgets::notificationShown, this,
            &TaviWebPage::notificationShown);
    connect(&m_webWidgets, &VmsWebWidgets::notificationClosed, this,
            &TaviWebPage::notificationClosed);
    // The host that listens is this page's: the web widget's own signal
    // always has this page as its receiver.
    using TaviWebModuleInternal::PagePermissions;
    if (auto* permissions = PagePermissions::of(m_webWidgets.view()->page()))
        permissions->setHostListens([this] {
            return isSignalConnected(QMetaMethod::fromSignal(&TaviWebPage::permissionRequested));
        });
    connect(&m_webWidgets, &VmsWebWidgets::pageUnresponsive, this, &TaviWebPage::pageUnresponsive);
    connect(&m_webWidgets, &VmsWebWidgets::pageResponsive, this, &TaviWebPage::pageResponsive);
    connect(&m_webWidgets, &VmsWebWidgets::pushesDropped, this, &TaviWebPage::pushesDropped);
    connect(&m_webWidgets, &VmsWebWidgets::errorStateShown, this, &TaviWebPage::errorStateShown);
    connect(&m_webWidgets, &VmsWebWidgets::notifiedHost, this, &TaviWebPage::notifiedHost);
    connect(&m_webWidgets, &VmsWebWidgets::newWindowRequested, this,
            &TaviWebPage::newWindowRequested);
    connect(&m_webWidgets, &VmsWebWidgets::contextMenuRequested, this,
            &TaviWebPage::contextMenuRequested);
    connect(&m_webWidgets, &VmsWebWidgets::printRequested, this, &TaviWebPage::printRequested);
    connect(&m_webWidgets, &VmsWebWidgets::fullScreenChanged, this,
            &TaviWebPage::fullScreenChanged);

    m_pParentWidget = parent;
    m_webWidgets.OpenUrl(url);
}

// m_webWidgets goes first, before the view's parent (this page) dies.
TaviWebPage::~TaviWebPage() = default;

void TaviWebPage::reload()
{
    m_webWidgets.reload();
}

QSize TaviWebPage::sizeHint() const
{
    return pageHint(*this, kFreeViewHint);
}

QSize TaviWebPage::minimumSizeHint() const
{
    return pageHint(*this, QSize(0, 0));
}

void TaviWebPage::resizeEvent(QResizeEvent* event)
{
    Q_UNUSED(event);
    // The layout's one-pixel margins above and below.
    m_webWidgets.setFixedSize(width(), height() - 2);
}
