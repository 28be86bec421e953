#pragma once

#include "VmsWebWidgets.h"
#include "taviwebmodule_export.h"

#include <QtCore/QString>
#include <TaviPage.h>

class QResizeEvent;

// A host tab page showing one web page, the view filling its width and its
// height less two pixels.
class TAVIWEBMODULE_EXPORT TaviWebPage : public TaviPage
{
    Q_OBJECT
public:
    TaviWebPage(QWidget* parent, const QString& url);
    ~TaviWebPage() override;

    void reload();
    // The hosted page, for hosts that need the view or the bridge.
    VmsWebWidgets* webWidgets() { return &m_webWidgets; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_pParentWidget;
    VmsWebWidgets m_webWidgets;
};
