#include "BridgeReady.h"

#include "BridgeAccess.h"
#include "LogText.h"
#include "Logging.h"
#include "WarningBudget.h"

#include <QtCore/QHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonObject>
#include <QtCore/QMetaMethod>
#include <QtCore/QThread>
#include <QtCore/QVariant>
#include <QtWebChannel/QWebChannel>
#include <QtWebChannel/QWebChannelAbstractTransport>
#include <QtWebEngineCore/QWebEnginePage>
#include <WebComm.h>
#include <array>
#include <cmath>
#include <limits>

namespace TaviWebModuleInternal {

namespace {

// qwebchannel.js's message types.
constexpr int kIdle = 4;
constexpr int kDebug = 5;
constexpr int kInvokeMethod = 6;
constexpr int kResponse = 10;
// The most arguments a method of the bridge takes.
constexpr qsizetype kMaxDirectArgs = 4;

// The bridge's method that a call by name with argc arguments reaches, or
// -1. qwebchannel.js calls by name, and QWebChannel then walks and scores
// every method of the object on each call, some thirty for the bridge; by
// index it invokes the method the same way, without the walk. Only where
// the walk has one candidate, a public method or slot of the bridge's own
// class (QObject's it treats apart), so the channel's choice is kept.
int bridgeMethodIndex(const QString& name, qsizetype argc)
{
    constexpr int kMaxArgs = 10;
    using ByArgCount = std::array<int, kMaxArgs + 1>;
    static const QHash<QString, ByArgCount> table = [] {
        constexpr int kNone = -1, kAmbiguous = -2;
        QHash<QString, ByArgCount> byName;
        const QMetaObject& meta = CWebComm::staticMetaObject;
        for (int i = 0; i < meta.methodCount(); ++i) {
            const QMetaMethod method = meta.method(i);
            if (method.access() != QMetaMethod::Public
                || (method.methodType() != QMetaMethod::Method
                    && method.methodType() != QMetaMethod::Slot)
                || method.parameterCount() > kMaxArgs)
                continue;
            const QString methodName = QString::fromLatin1(method.name());
            auto entry = byName.find(methodName);
            if (entry == byName.end()) {
                ByArgCount none;
                none.fill(kNone);
                entry = byName.insert(methodName, none);
            }
            int& slot = (*entry)[method.parameterCount()];
            slot = slot == kNone && i >= meta.methodOffset() ? i : kAmbiguous;
        }
        return byName;
    }();
    const auto entry = table.constFind(name);
    if (entry == table.constEnd() || argc < 0 || argc > kMaxArgs)
        return -1;
    return std::max((*entry)[argc], -1);
}

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

// The engine's transport is of a class whose type information its library
// keeps to itself, which UBSan's check of downcasts cannot see; the meta-object
// system can, from Qt's own code. No member of the object is called here.
__attribute__((no_sanitize("vptr"))) QWebChannelAbstractTransport* asTransport(QObject* object)
{
    return static_cast<QWebChannelAbstractTransport*>(
        object ? QWebChannelAbstractTransport::staticMetaObject.cast(object) : nullptr);
}

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

// What the channel sees instead of the page's transport: answers go to the
// page as they are; messages come from the probe.
class ChannelRelay : public QWebChannelAbstractTransport
{
    Q_OBJECT
public:
    ChannelRelay(QWebChannelAbstractTransport* source, QObject* parent)
        : QWebChannelAbstractTransport(parent)
        , m_source(source)
    {}
    // The engine's transport, as in asTransport().
    __attribute__((no_sanitize("vptr"))) void sendMessage(const QJsonObject& message) override
    {
        if (QWebChannelAbstractTransport* source = asTransport(m_source.data()))
            source->sendMessage(message);
    }
    void deliver(const QJsonObject& message) { Q_EMIT messageReceived(message, this); }

private:
    QPointer<QObject> m_source;
};

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

BridgeReadyProbe::~BridgeReadyProbe()
{
    // The channel may outlive the page by a moment.
    if (m_relay && m_channel)
        m_channel->disconnectFrom(m_relay);
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
    if (m_source)
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
    m_source = transport;
    m_relay = new ChannelRelay(transport, this);
    m_channel->disconnectFrom(transport);
    m_channel->connectTo(m_relay);
    connect(transport, &QWebChannelAbstractTransport::messageReceived, this,
            &BridgeReadyProbe::onMessage);
}

// By hand, where QWebChannel's own call would do the same: its generic path
// (each argument and the result through a QVariant and a conversion, the
// message read again) kept the bridge's calls per second under the goal.
// Made here, a call costs the GUI thread a quarter fewer instructions than a
// bare channel's echo. Only the exact cases; the rest goes to the channel.
// tst_webcomm holds the answers and arguments to the channel's own.
bool BridgeReadyProbe::callDirectly(QObject* target, int index, const QJsonObject& message,
                                    const QJsonArray& args)
{
    const QMetaMethod method = target->metaObject()->method(index);
    const int returnType = method.returnMetaType().id();
    if ((returnType != QMetaType::Void && returnType != QMetaType::Int
         && returnType != QMetaType::Bool && returnType != QMetaType::QString)
        || args.size() > kMaxDirectArgs || target->thread() != QThread::currentThread())
        return false;
    const QJsonValue id = message.value(QLatin1String("id"));
    if (id.isUndefined())
        return false;
    // The arguments as the channel converts them, where that conversion is
    // exact: a text for a text, a whole number in range for an int.
    int ints[kMaxDirectArgs];
    QString texts[kMaxDirectArgs];
    void* argv[kMaxDirectArgs + 1];
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QJsonValue arg = args.at(i);
        switch (method.parameterType(int(i))) {
        case QMetaType::Int: {
            if (!arg.isDouble())
                return false;
            const double value = arg.toDouble();
            if (!(value >= std::numeric_limits<int>::min()
                  && value <= std::numeric_limits<int>::max())
                || value != std::trunc(value))
                return false;
            ints[i] = int(value);
            argv[i + 1] = &ints[i];
            break;
        }
        case QMetaType::QString:
            if (!arg.isString())
                return false;
            texts[i] = arg.toString();
            argv[i + 1] = &texts[i];
            break;
        default:
            return false;
        }
    }
    // Inline in the variant for these types: no allocation.
    QVariant result(method.returnMetaType());
    argv[0] = returnType == QMetaType::Void ? nullptr : result.data();
    // The method may run an event loop of its own (a dialog), in which the
    // page, its channel or this probe may go.
    const QPointer<BridgeReadyProbe> self(this);
    QMetaObject::metacall(target, QMetaObject::InvokeMetaMethod, index, argv);
    if (!self || !m_channel)
        return true;
    QJsonObject response;
    response.insert(QLatin1String("type"), kResponse);
    response.insert(QLatin1String("id"), id);
    response.insert(QLatin1String("data"),
                    returnType == QMetaType::Void ? QJsonValue() : QJsonValue::fromVariant(result));
    m_relay->sendMessage(response);
    return true;
}

void BridgeReadyProbe::onMessage(const QJsonObject& message)
{
    const int type = message.value(QLatin1String("type")).toInt();
    // Only what is logged needs the origin: not on the way of every call.
    const auto from = [this] {
        const DocumentOrigin* origin = DocumentOrigin::of(m_page);
        return originText(origin ? origin->url() : QUrl());
    };
    if (type == kDebug) {
        const QString origin = from();
        if (mayWarn(m_page, QStringLiteral("channel messages from ") + origin))
            qCDebug(lcWebModule).noquote()
                << QStringLiteral("Channel debug message from %1: %2")
                       .arg(origin, escapeForLog(message.value(QLatin1String("data")).toString()));
        return;
    }
    if (const auto named = message.constFind(QLatin1String("object"));
        named != message.constEnd()) {
        const QString object = named.value().toString();
        QObject* target = m_channel->registeredObjects().value(object);
        if (!target) {
            const QString origin = from();
            if (mayWarn(m_page, QStringLiteral("channel messages from ") + origin))
                qCWarning(lcWebModule).noquote()
                    << QStringLiteral("Refused a channel message for unknown object %1 from %2")
                           .arg(escapeForLog(object), origin);
            return;
        }
        if (type == kInvokeMethod && target->metaObject() == &CWebComm::staticMetaObject) {
            const QJsonValue method = message.value(QLatin1String("method"));
            const QJsonArray args = message.value(QLatin1String("args")).toArray();
            const int index
                = method.isString() ? bridgeMethodIndex(method.toString(), args.size()) : -1;
            if (index >= 0) {
                if (callDirectly(target, index, message, args))
                    return;
                QJsonObject byIndex = message;
                byIndex.insert(QLatin1String("method"), index);
                m_relay->deliver(byIndex);
                return;
            }
        }
    }
    m_relay->deliver(message);
    if (type != kIdle)
        return;
    if (m_initDocument == m_document)
        report();
    else if (m_before && m_initDocument == m_before->document)
        m_before->idle = true;
}

} // namespace TaviWebModuleInternal

#include "BridgeReady.moc"
