#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QPoint>
#include <QtCore/QString>
#include <QtWidgets/QDialog>

class QFont;
class QLabel;
class QMouseEvent;
class QPushButton;

// Frameless modal picture viewer: title bar, the picture scaled to fit in
// 720 x 560, and a bar with the path and an open-folder button.
class TAVIWEBMODULE_EXPORT ImageDialog : public QDialog
{
    Q_OBJECT
public:
    // A viewer of the picture at path; the caller shows it (exec()).
    ImageDialog(const QString& path, QWidget* parent);
    ~ImageDialog() override;

    // text elided at the right to width pixels of font.
    QString elideText(const QString& text, const QFont& font, int width);

protected:
    // Starts dragging the frameless window by its title bar.
    void mousePressEvent(QMouseEvent* event) override;
    // Moves the window while it is dragged.
    void mouseMoveEvent(QMouseEvent* event) override;

private Q_SLOTS:
    void openPath();

private:
    QLabel* m_pImageLabel;
    QLabel* m_pTitleLabel;
    QLabel* m_pPathLabel;
    QPushButton* m_pCloseBtn;
    QPushButton* m_pOpenBtn;
    QPoint m_ptDragOffset;
    QString m_strPath;
};
