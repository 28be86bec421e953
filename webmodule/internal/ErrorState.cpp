#include "ErrorState.h"

#include "SideObject.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>
#include <SkinMgr.h>

namespace TaviWebModuleInternal {

ErrorState::ErrorState(QWidget* view, std::function<void()> reload)
    : QFrame(view)
{
    setObjectName(QStringLiteral("webPageErrorState"));
    setAutoFillBackground(true);
    const SkinMgr* skin = taviSkinMgr();
    setStyleSheet(QStringLiteral("#webPageErrorState { background-color: %1; }"
                                 "#webPageErrorState QLabel { color: %2; }"
                                 "#webPageErrorState QPushButton { color: %2; background-color: %3;"
                                 " border: 1px solid %4; padding: 6px 24px; }"
                                 "#webPageErrorState QPushButton:hover { border-color: %5; }")
                      .arg(skin->dlgBackgroundColor(), skin->oneLevelTextColor(),
                           skin->lineEditColor(), skin->dlgBorderColor(), skin->themeThirdColor()));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    auto* title
        = new QLabel(QCoreApplication::translate("ErrorState", "This page has stopped"), this);
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    m_detail = new QLabel(this);
    m_detail->setWordWrap(true);
    m_detail->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_detail);
    auto* button = new QPushButton(QCoreApplication::translate("ErrorState", "Reload"), this);
    button->setObjectName(QStringLiteral("reload"));
    connect(button, &QPushButton::clicked, this, [reload = std::move(reload)] { reload(); });
    layout->addWidget(button, 0, Qt::AlignCenter);
    layout->addStretch();
    view->installEventFilter(this);
    setGeometry(view->rect());
    hide();
}

ErrorState* ErrorState::of(const QWidget* view)
{
    return sideObject<ErrorState>(view);
}

void ErrorState::showWith(const QString& detail)
{
    m_detail->setText(detail);
    setGeometry(parentWidget()->rect());
    raise();
    show();
}

bool ErrorState::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QFrame::eventFilter(watched, event);
}

} // namespace TaviWebModuleInternal
