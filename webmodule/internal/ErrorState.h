#pragma once

// Internal to the module: what a page's place shows when its renderer stays
// down: in the host's skin, what happened, and a "Reload" button for the
// operator. A child of the view, over the whole of it; hidden until show().

#include <QtWidgets/QFrame>
#include <functional>

class QLabel;

namespace TaviWebModuleInternal {

class ErrorState : public QFrame
{
    Q_OBJECT
public:
    // reload: what the button does.
    ErrorState(QWidget* view, std::function<void()> reload);
    // The one over view, or null.
    static ErrorState* of(const QWidget* view);

    void showWith(const QString& detail);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_detail;
};

} // namespace TaviWebModuleInternal
