#include "ImageDialog.h"

#include "FocusFrame.h"
#include "HostLines.h"
#include "ViewerLines.h"

#include <QtCore/QFileInfo>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>
#include <QtGui/QFontMetrics>
#include <QtGui/QMouseEvent>
#include <QtGui/QPixmap>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <SkinMgr.h>
#include <TaviLogic.h>

namespace {

const QSize kPictureBox(720, 560);
// The picture area when there is no picture: room for the message.
const QSize kNoPictureSize(480, 270);

} // namespace

void TaviWebModuleInternal::logPictureNotLoaded()
{
    HostLine::warning() << "Image could not be loaded.";
}

ImageDialog::ImageDialog(const QString& path, QWidget* parent)
    : QDialog(parent)
    , m_pImageLabel(nullptr)
    , m_pTitleLabel(nullptr)
    , m_pPathLabel(nullptr)
    , m_pCloseBtn(nullptr)
    , m_pOpenBtn(nullptr)
    , m_ptDragOffset(0, 0)
    , m_strPath(path)
{
    const SkinMgr* skin = taviSkinMgr();

    m_pImageLabel = new QLabel(this);
    m_pImageLabel->setObjectName(QStringLiteral("pictureLabel"));
    m_pTitleLabel = new QLabel(this);
    m_pTitleLabel->setObjectName(QStringLiteral("titleLabel"));

    setWindowFlags(Qt::FramelessWindowHint);
    setStyleSheet(QStringLiteral("background-color: %1;").arg(skin->themeThirdColor()));

    m_pTitleLabel->setText(QFileInfo(path).fileName());
    m_pTitleLabel->setStyleSheet(QStringLiteral("color: %1;").arg(skin->oneLevelTextColor()));

    m_pCloseBtn = new QPushButton(this);
    m_pCloseBtn->setObjectName(QStringLiteral("closeButton"));
    m_pCloseBtn->setStyleSheet(skin->patchSkinPaths(
        QStringLiteral("QPushButton { border: none; image: "
                       "url(./skin/client/default/MainFrameUI/icon_close.png); }")));
    m_pCloseBtn->setFixedSize(25, 25);
    m_pCloseBtn->setFlat(true);

    auto* titleLayout = new QHBoxLayout;
    titleLayout->setContentsMargins(20, 10, 20, 10);
    titleLayout->addWidget(m_pTitleLabel);
    titleLayout->addWidget(m_pCloseBtn);
    // Owned by the dialog from the start, so that no path leaves it behind.
    auto* titleBar = new QWidget(this);
    titleBar->setObjectName(QStringLiteral("titleBar"));
    titleBar->setLayout(titleLayout);
    titleBar->setStyleSheet(QStringLiteral("background: %1;").arg(skin->themeThirdColor()));
    titleBar->setFixedHeight(44);

    connect(m_pCloseBtn, &QPushButton::clicked, this, &QDialog::accept);

    // Keyboard: the window holds the focus when it opens, so Enter goes to
    // the default button (open the folder) and Escape closes; Tab walks the
    // buttons.
    setFocusPolicy(Qt::ClickFocus);
    setFocus();
    setAccessibleName(tr("Picture viewer"));
    m_pCloseBtn->setAccessibleName(tr("Close"));
    m_pCloseBtn->setAccessibleDescription(tr("Closes the picture viewer (Escape)"));
    m_pImageLabel->setAccessibleName(tr("Picture"));
    m_pImageLabel->setAccessibleDescription(path);

    const QPixmap pixmap(path);
    if (pixmap.isNull()) {
        TaviWebModuleInternal::logPictureNotLoaded();
        // Keep the window usable: the file name, the close button and a word
        // where the picture would be.
        m_pImageLabel->setText(tr("Image could not be loaded."));
        m_pImageLabel->setAlignment(Qt::AlignCenter);
        m_pImageLabel->setStyleSheet(QStringLiteral("color: %1;").arg(skin->oneLevelTextColor()));
        m_pImageLabel->setFixedSize(kNoPictureSize);
        auto* mainLayout = new QVBoxLayout(this);
        mainLayout->setContentsMargins(0, 0, 0, 0);
        mainLayout->setSpacing(0);
        mainLayout->addWidget(titleBar);
        mainLayout->addWidget(m_pImageLabel);
        FocusFrame::install(this);
        return;
    }

    const QPixmap scaled = pixmap.scaled(kPictureBox, Qt::KeepAspectRatio, Qt::FastTransformation);
    m_pImageLabel->setPixmap(scaled);
    m_pImageLabel->setScaledContents(true);
    // The label keeps the picture's own proportions even when the bars below
    // make the window wider than the picture.
    m_pImageLabel->setFixedSize(scaled.size());

    m_pPathLabel = new QLabel;
    m_pPathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_pPathLabel->setStyleSheet(QStringLiteral("border: none;color: %1;background: %2;")
                                    .arg(skin->oneLevelTextColor(), skin->lineEditColor()));
    // Measured before any layout: the width of a fresh parentless label.
    m_pPathLabel->setText(elideText(path, m_pPathLabel->font(), m_pPathLabel->width()));
    m_pPathLabel->setFixedHeight(32);

    m_pOpenBtn = new QPushButton(this);
    m_pOpenBtn->setObjectName(QStringLiteral("openFolderButton"));
    m_pOpenBtn->setStyleSheet(skin->patchSkinPaths(
        QStringLiteral("QPushButton { border: none; image: "
                       "url(./skin/client/default/CommonUI/icon_openFile.png); background: %1;}")
            .arg(skin->lineEditColor())));
    m_pOpenBtn->setFixedSize(32, 32);
    connect(m_pOpenBtn, &QPushButton::clicked, this, &ImageDialog::openPath);
    m_pOpenBtn->setDefault(true);
    m_pOpenBtn->setAccessibleName(tr("Open folder"));
    m_pOpenBtn->setAccessibleDescription(
        tr("Shows the folder that holds the picture in the file manager (Enter)"));

    auto* pathLayout = new QHBoxLayout;
    pathLayout->setContentsMargins(1, 1, 1, 1);
    pathLayout->setSpacing(0);
    pathLayout->addWidget(m_pPathLabel);
    pathLayout->addWidget(m_pOpenBtn);
    auto* pathBar = new QWidget(this);
    pathBar->setObjectName(QStringLiteral("pathBar"));
    pathBar->setLayout(pathLayout);
    pathBar->setStyleSheet(QStringLiteral("background: %1; %2")
                               .arg(skin->lineEditColor(),
                                    taviParamsMgr()->isBrisel()
                                        ? QStringLiteral("border: 1px solid #D9D9D9;")
                                        : QString()));
    pathBar->setFixedHeight(36);

    auto* bottomBar = new QWidget(this);
    bottomBar->setObjectName(QStringLiteral("bottomBar"));
    bottomBar->setStyleSheet(QStringLiteral("background: %1; ").arg(skin->themeThirdColor()));
    bottomBar->setFixedHeight(64);
    auto* bottomLayout = new QVBoxLayout(bottomBar);
    bottomLayout->setContentsMargins(20, 14, 40, 14);
    bottomLayout->setSpacing(0);
    bottomLayout->addWidget(pathBar);

    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    mainLayout->addWidget(titleBar);
    mainLayout->addWidget(m_pImageLabel, 0, Qt::AlignHCenter);
    mainLayout->addWidget(bottomBar);
    FocusFrame::install(this);
}

ImageDialog::~ImageDialog() = default;

QString ImageDialog::elideText(const QString& text, const QFont& font, int width)
{
    return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
}

void ImageDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    m_ptDragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void ImageDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QDialog::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - m_ptDragOffset);
    event->accept();
}

void ImageDialog::openPath()
{
    // The folder, made absolute, not the file itself.
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_strPath).absolutePath()));
}
