#include "BridgeReady.h"

#include "BridgeAccess.h"
#include "ChannelRelay.h"
#include "LogText.h"
#include "Logging.h"
#include "SideObject.h"

#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEnginePage>

namespace TaviWebModuleInternal {

namespace {

// The object that a client's "init" reads: its one property tells the
// probe.
class ProbeObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool ready READ ready CONSTANT)
public:
    explicit ProbeObject(BridgeReadyProbe* probe)
        : QObject(probe)
        , m_probe(probe)
    {}
    bool ready() const
    {
        m_probe->initRead();
        return true;
    }

private:
    BridgeReadyProbe* m_probe;
};

// The object that emitted the signal whose slot obj runs now (QObject's
// sender(), which is protected: a pointer to it named through a subclass
// may be taken).
QObject* currentSender(QObject* obj)
{
    struct Peek : QObject
    {
        static QObject* of(QObject* o) { return (o->*(&Peek::sender))(); }
    };
    return Peek::of(obj);
}

} // namespace

BridgeReadyProbe::BridgeReadyProbe(QWebEnginePage* page, QWebChannel* channel)
    : QObject(page)
    , m_page(page)
    , m_channel(channel)
    , m_object(new ProbeObject(this))
{
    m_channel->registerObject(objectName(), m_object);
    // A new document begins with its load: its origin report may come after
    // its channel's init, which must then still count for it.
    connect(page, &QWebEnginePage::loadStarted, this, &BridgeReadyProbe::loadStarted);
    connect(page, &QWebEnginePage::loadFinished, this, &BridgeReadyProbe::loadFinished);
}

BridgeReadyProbe::~BridgeReadyProbe() = default;

BridgeReadyProbe* BridgeReadyProbe::of(const QWebEnginePage* page)
{
    return sideObject<BridgeReadyProbe>(page);
}

QString BridgeReadyProbe::objectName()
{
    return QStringLiteral("tavi.channel");
}

void BridgeReadyProbe::loadStarted()
{
    // The last load is the one that may end without a document: a page's
    // navigation refused while its own load is still on.
    const DocumentOrigin* origin = DocumentOrigin::of(m_page);
    m_before
        = Before { m_document, m_reported, origin ? origin->document() : QString(), m_page->url() };
    ++m_document;
    m_reported = false;
}

void BridgeReadyProbe::loadFinished(bool ok)
{
    const std::optional<Before> before = std::exchange(m_before, std::nullopt);
    const DocumentOrigin* origin = DocumentOrigin::of(m_page);
    // A navigation refused or aborted leaves the document that stood: the
    // idle of its channel, even if it came meanwhile, still counts.
    if (ok || !before || !origin || before->origin.isEmpty() || origin->document() != before->origin
        || m_page->url() != before->url)
        return;
    m_document = before->document;
    m_reported = before->reported;
    if (before->idle && m_initDocument == m_document)
        report();
}

void BridgeReadyProbe::report()
{
    if (m_reported)
        return;
    m_reported = true;
    Q_EMIT connected();
}

void BridgeReadyProbe::initRead()
{
    m_initDocument = m_document;
    if (m_relay)
        return;
    // The channel's handler of the message runs now; its sender is the
    // transport of the page's client.
    QObject* publisher = nullptr;
    for (QObject* child : m_channel->children())
        if (qstrcmp(child->metaObject()->className(), "QMetaObjectPublisher") == 0)
            publisher = child;
    auto* transport = asTransport(publisher ? currentSender(publisher) : nullptr);
    if (!transport) {
        qCWarning(lcWebModule) << "The page's channel transport was not found: no bridgeConnected";
        return;
    }
    // Only what is logged needs the origin: not on the way of every call.
    const auto origin = [page = m_page] {
        const DocumentOrigin* origin = DocumentOrigin::of(page);
        return originText(origin ? origin->url() : QUrl());
    };
    m_relay = new ChannelRelay(m_channel, transport, m_page, origin, this);
    connect(m_relay, &ChannelRelay::idle, this, &BridgeReadyProbe::idle);
}

void BridgeReadyProbe::idle()
{
    if (m_initDocument == m_document)
        report();
    else if (m_before && m_initDocument == m_before->document)
        m_before->idle = true;
}

} // namespace TaviWebModuleInternal

#include "BridgeReady.moc"
