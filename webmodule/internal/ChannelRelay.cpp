#include "ChannelRelay.h"

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

// The method of an invoke message as text: its name, or its index.
QString methodText(const QJsonObject& message)
{
    const QJsonValue method = message.value(QLatin1String("method"));
    return method.isString() ? method.toString() : QString::number(method.toDouble());
}

// True when the channel finds a method of target for message, by name and
// argument count as it looks, or by index: a public method or slot.
bool hasMethod(const QObject* target, const QJsonObject& message)
{
    const QMetaObject* meta = target->metaObject();
    const QJsonValue method = message.value(QLatin1String("method"));
    const qsizetype argc = message.value(QLatin1String("args")).toArray().size();
    const auto callable = [](const QMetaMethod& m) {
        return m.access() == QMetaMethod::Public
            && (m.methodType() == QMetaMethod::Method || m.methodType() == QMetaMethod::Slot);
    };
    if (method.isDouble()) {
        const double index = method.toDouble();
        return index >= 0 && index < meta->methodCount() && index == std::trunc(index)
            && callable(meta->method(int(index)));
    }
    if (!method.isString())
        return false;
    // A signature is no name to the channel either.
    const QByteArray name = method.toString().toUtf8();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.name() == name && m.parameterCount() == argc && callable(m))
            return true;
    }
    return false;
}

} // namespace

// No member of the object is called here.
__attribute__((no_sanitize("vptr"))) QWebChannelAbstractTransport* asTransport(QObject* object)
{
    return static_cast<QWebChannelAbstractTransport*>(
        object ? QWebChannelAbstractTransport::staticMetaObject.cast(object) : nullptr);
}

ChannelRelay::ChannelRelay(QWebChannel* channel, QWebChannelAbstractTransport* source,
                           const QObject* owner, std::function<QString()> origin, QObject* parent)
    : QWebChannelAbstractTransport(parent)
    , m_channel(channel)
    , m_source(source)
    , m_owner(owner)
    , m_origin(std::move(origin))
{
    channel->disconnectFrom(source);
    channel->connectTo(this);
    connect(source, &QWebChannelAbstractTransport::messageReceived, this, &ChannelRelay::onMessage);
}

ChannelRelay::~ChannelRelay()
{
    // The channel may outlive the page by a moment.
    if (m_channel)
        m_channel->disconnectFrom(this);
}

// The engine's transport, as in asTransport().
__attribute__((no_sanitize("vptr"))) void ChannelRelay::sendMessage(const QJsonObject& message)
{
    if (QWebChannelAbstractTransport* source = asTransport(m_source.data()))
        source->sendMessage(message);
}

// By hand, where QWebChannel's own call would do the same: its generic path
// takes each argument and the result through a QVariant and a conversion
// and reads the message again, on every page call (see bench_bridgecalls).
// Only the exact cases; the rest goes to the channel. tst_channelrelay holds
// the answers and arguments to the channel's own.
bool ChannelRelay::callDirectly(QObject* target, int index, const QJsonObject& message,
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
    // page, its channel or this relay may go.
    const QPointer<ChannelRelay> self(this);
    QMetaObject::metacall(target, QMetaObject::InvokeMetaMethod, index, argv);
    if (!self || !m_channel)
        return true;
    QJsonObject response;
    response.insert(QLatin1String("type"), kResponse);
    response.insert(QLatin1String("id"), id);
    response.insert(QLatin1String("data"),
                    returnType == QMetaType::Void ? QJsonValue() : QJsonValue::fromVariant(result));
    sendMessage(response);
    return true;
}

void ChannelRelay::onMessage(const QJsonObject& message)
{
    if (!m_channel)
        return;
    const int type = message.value(QLatin1String("type")).toInt();
    if (type == kDebug) {
        // Only what is logged needs the origin: not on the way of every call.
        const QString origin = m_origin();
        if (mayWarn(m_owner, QStringLiteral("channel messages from ") + origin))
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
            const QString origin = m_origin();
            if (mayWarn(m_owner, QStringLiteral("channel messages from ") + origin,
                        kWarningsPerSecond, object))
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
                deliver(byIndex);
                return;
            }
        }
        // The channel would warn for each such call, outside any budget.
        if (type == kInvokeMethod && !hasMethod(target, message)) {
            const QString origin = m_origin();
            const QString method = methodText(message);
            if (mayWarn(m_owner, QStringLiteral("channel messages from ") + origin,
                        kWarningsPerSecond, method))
                qCWarning(lcWebModule).noquote()
                    << QStringLiteral("Refused a call of unknown method %1 with %2 arguments of "
                                      "%3 from %4")
                           .arg(escapeForLog(method),
                                QString::number(
                                    message.value(QLatin1String("args")).toArray().size()),
                                escapeForLog(object), origin);
            // The channel's own answer to such a call.
            if (const QJsonValue id = message.value(QLatin1String("id")); !id.isUndefined())
                sendMessage(QJsonObject { { QLatin1String("type"), kResponse },
                                          { QLatin1String("id"), id },
                                          { QLatin1String("data"), QJsonArray() } });
            return;
        }
    }
    deliver(message);
    if (type == kIdle)
        Q_EMIT idle();
}

} // namespace TaviWebModuleInternal
