#include "ImageDialog.h"

#include <QtGui/QFontMetrics>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

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
}

ImageDialog::~ImageDialog() = default;

QString ImageDialog::elideText(const QString& text, const QFont& font, int width)
{
    return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
}

void ImageDialog::mousePressEvent(QMouseEvent* event)
{
    QDialog::mousePressEvent(event);
}

void ImageDialog::mouseMoveEvent(QMouseEvent* event)
{
    QDialog::mouseMoveEvent(event);
}

void ImageDialog::openPath()
{
}
