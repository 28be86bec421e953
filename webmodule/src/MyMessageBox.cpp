#include "MyMessageBox.h"

#include "FocusFrame.h"

#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <SkinMgr.h>

namespace {

enum Choice { NoChoice = -1, PromptLater = 0, ClosePrompt = 1 };

// A button as wide as its text needs plus some air, in the row's style.
void fitButton(QPushButton* button)
{
    button->setFixedHeight(30);
    button->adjustSize();
    button->setFixedWidth(button->width() + 20);
}

} // namespace

CMessageBox::CMessageBox(QDialog* parent)
    : QDialog(parent)
    , m_nResult(NoChoice)
{
    const SkinMgr* skin = taviSkinMgr();
    // Each arg() fills the lowest marker left: background, text, border.
    setStyleSheet(QStringLiteral("background-color: %1;border: 1px solid %3; color:%2;")
                      .arg(skin->dlgBackgroundColor())
                      .arg(skin->oneLevelTextColor())
                      .arg(skin->dlgBorderColor()));
    setFixedSize(440, 230);

    auto* closeBtn = new QPushButton(this);
    closeBtn->setObjectName(QStringLiteral("cornerCloseButton"));
    closeBtn->setStyleSheet(skin->patchSkinPaths(
        QStringLiteral("QPushButton{border:none;background: transparent;"
                       "border-image:url(./skin/client/default/MainFrame/Login/close.png);}")));
    closeBtn->setGeometry(400, 10, 24, 24);
    connect(closeBtn, &QPushButton::clicked, this, &QWidget::close);
    closeBtn->setAccessibleName(tr("Close"));
    closeBtn->setAccessibleDescription(tr("Closes the tip without a choice (Escape)"));
    setAccessibleName(tr("Device alarm"));

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
}

CMessageBox::~CMessageBox() = default;

bool CMessageBox::DevAlarmTips(QString msg)
{
    const SkinMgr* skin = taviSkinMgr();

    auto* message = new QLabel(this);
    message->setObjectName(QStringLiteral("messageLabel"));
    message->setWordWrap(true);
    message->setText(msg);
    message->setGeometry(50, 80, 300, 30);
    message->setFixedWidth(380);
    message->setStyleSheet(QStringLiteral("QLabel{border:none;color: %1;font-size: 16px;}")
                               .arg(skin->oneLevelTextColor()));

    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("buttonRow"));
    row->setStyleSheet(
        QStringLiteral("QWidget{background-color:transparent;border:none;font-size: 12px;}"));
    row->setFixedSize(width() - 6, 80);
    row->move(3, 137);

    // Created inside the row, so that their size is measured in its style.
    auto* laterBtn = new QPushButton(tr("Prompt later"), row);
    laterBtn->setObjectName(QStringLiteral("promptLaterButton"));
    laterBtn->setStyleSheet(
        QStringLiteral("QPushButton{background-color: %1; border-radius: 14px;font-size: 13px;"
                       "color:%2;}")
            .arg(skin->hoverRedColor(), skin->oneLevelTextColor()));
    fitButton(laterBtn);
    connect(laterBtn, &QPushButton::clicked, this, [this] {
        m_nResult = PromptLater;
        close();
    });

    auto* closePromptBtn = new QPushButton(tr("Close prompt"), row);
    closePromptBtn->setObjectName(QStringLiteral("closePromptButton"));
    closePromptBtn->setStyleSheet(
        QStringLiteral("border-radius: 14px; border: 1px solid #666666; font-size: 13px;color:%1;")
            .arg(skin->oneLevelTextColor()));
    fitButton(closePromptBtn);
    connect(closePromptBtn, &QPushButton::clicked, this, [this] {
        m_nResult = ClosePrompt;
        close();
    });

    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(30, 30, 30, 30);
    rowLayout->setSpacing(10);
    rowLayout->addStretch();
    rowLayout->addWidget(laterBtn, 0, Qt::AlignRight | Qt::AlignCenter);
    rowLayout->addWidget(closePromptBtn, 0, Qt::AlignRight | Qt::AlignCenter);

    // Keyboard: the box holds the focus when it opens, so Enter chooses the
    // highlighted "Prompt later" (or the button Tab has moved to) and Escape
    // closes as the corner button does.
    laterBtn->setDefault(true);
    setAccessibleDescription(msg);
    setFocusPolicy(Qt::ClickFocus);
    setFocus();
    FocusFrame::install(this);

    exec();
    return m_nResult == PromptLater;
}
