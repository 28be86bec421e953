#pragma once

// Internal to the module: when a page's web channel client has initialised,
// as the module sees it on the channel itself. qwebchannel.js sends "init",
// runs the page's callback with the answer, then sends "idle": the first
// "idle" after an "init" of the current main-frame document is the moment.
// Nothing in the page's world takes part, so nothing there can fake it.
//
// QWebChannel tells no one of its clients and Qt WebEngine keeps its
// transport to itself. So the probe puts a small object of its own on the
// channel; a client's "init" reads its property from inside the channel's
// handling of that message, which names the transport. From then on the
// page's messages reach the channel through a ChannelRelay, whose "idle"
// the probe watches.

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <optional>

class QWebChannel;
class QWebEnginePage;

namespace TaviWebModuleInternal {

class ChannelRelay;

class BridgeReadyProbe : public QObject
{
    Q_OBJECT
public:
    // Registers its object on channel, the page's channel; a child of page.
    BridgeReadyProbe(QWebEnginePage* page, QWebChannel* channel);
    ~BridgeReadyProbe() override;

    // The name its object has on the channel.
    static QString objectName();

    // Called by its object when a client's "init" reads it.
    void initRead();
    // Whether connected() came for the current document.
    bool reported() const { return m_reported; }
    static BridgeReadyProbe* of(const QWebEnginePage* page);

Q_SIGNALS:
    void connected();

private:
    void idle();
    void loadStarted();
    void loadFinished(bool ok);
    void report();

    QWebEnginePage* m_page;
    QPointer<QWebChannel> m_channel;
    QObject* m_object;
    ChannelRelay* m_relay = nullptr;
    quint64 m_document = 1; // counts the main-frame documents
    quint64 m_initDocument = 0; // the one whose "init" came last
    bool m_reported = false;
    // A load that may end without a new document (refused, aborted): what
    // stood before it, and whether the idle of that document came meanwhile.
    struct Before
    {
        quint64 document = 0;
        bool reported = false;
        QString origin; // the document's own report
        QUrl url;
        bool idle = false;
    };
    std::optional<Before> m_before;
};

} // namespace TaviWebModuleInternal
