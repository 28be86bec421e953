#pragma once

// Internal to the module: what a page's web channel sees in place of the
// page's transport. It sees each message of the page first: it keeps the
// channel's "debug" messages (Qt would write them raw to stdout) and
// messages for objects the channel does not hold (Qt would warn for each) to
// one escaped line each, within the owner's budget of warnings
// (WarningBudget.h). A call of the bridge's method where the name picks one
// method it makes itself, as the channel would, when the arguments and the
// result are of plain types; otherwise it hands the call on by the method's
// index. Everything else reaches the channel as it came. Answers go to the
// page's transport as they are.

#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtWebChannel/QWebChannelAbstractTransport>
#include <functional>

class QJsonArray;
class QJsonObject;
class QWebChannel;

namespace TaviWebModuleInternal {

// object as a transport, or null. The engine's transport is of a class
// whose type information its library keeps to itself, which UBSan's check
// of downcasts cannot see; the meta-object system can.
QWebChannelAbstractTransport* asTransport(QObject* object);

class ChannelRelay : public QWebChannelAbstractTransport
{
    Q_OBJECT
public:
    // Takes source's place on channel. owner (the page) holds the budget of
    // the warnings its messages provoke; origin tells, for those lines, where
    // the messages come from.
    ChannelRelay(QWebChannel* channel, QWebChannelAbstractTransport* source, const QObject* owner,
                 std::function<QString()> origin, QObject* parent);
    ~ChannelRelay() override;

    void sendMessage(const QJsonObject& message) override;

Q_SIGNALS:
    // An "idle" of the page's client has reached the channel.
    void idle();

private:
    void onMessage(const QJsonObject& message);
    // Calls the bridge's method index for message and answers the page, as
    // the channel would; false, having done nothing, where the arguments or
    // the result are not of the plain types this handles.
    bool callDirectly(QObject* target, int index, const QJsonObject& message,
                      const QJsonArray& args);
    void deliver(const QJsonObject& message) { Q_EMIT messageReceived(message, this); }

    QPointer<QWebChannel> m_channel;
    QPointer<QObject> m_source; // as in asTransport()
    const QObject* m_owner;
    std::function<QString()> m_origin;
};

} // namespace TaviWebModuleInternal
