#pragma once

// Internal to the module: when a page's web channel client has initialised.
// QWebChannel reports no such moment, so a script in the page's main world
// watches what the page sends on qt.webChannelTransport: qwebchannel.js sends
// "idle" right after its init callback has run. The first one of each
// document is reported back as a console message that only the probe's
// script knows.

#include <QtCore/QObject>
#include <QtCore/QString>

class QWebEnginePage;

namespace TaviWebModuleInternal {

class BridgeReadyProbe : public QObject
{
    Q_OBJECT
public:
    // Installs the script into page's own scripts; a child of page.
    explicit BridgeReadyProbe(QWebEnginePage* page);

    // The probe installed into page, or null.
    static BridgeReadyProbe* of(const QWebEnginePage* page);
    // True, and connected() emitted, when message is the probe's report.
    bool take(const QString& message);

Q_SIGNALS:
    void connected();

private:
    QString m_report;
};

} // namespace TaviWebModuleInternal
