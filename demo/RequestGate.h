#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QStringList>
#include <optional>

// The head of an HTTP request, as the demo's test endpoints read it.
struct HttpHead
{
    QByteArray method;
    QByteArray target; // the path and query, as sent
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> fields; // names in lower case

    // The value of the field name (lower case); count says how often it came.
    QByteArray field(const QByteArray& name, int* count = nullptr) const;
    void removeField(const QByteArray& name);
    void setField(const QByteArray& name, const QByteArray& value);
    // Without the blank line that ends it; nothing when it is no request.
    static std::optional<HttpHead> parse(const QByteArray& head);
    QByteArray toBytes() const; // with the blank line
};

// Who may use the test endpoints of a served run: whoever holds the run's
// secret (only the process that started the host reads it, on its standard
// output), over loopback under the endpoint's own address, and from no web
// page. A browser sends Origin with every WebSocket handshake, every POST
// and every request a page's script reads, and cannot be made to send
// another Host or an Authorization header without a preflight, which is
// refused; so no page, of any site and not the one shown in the host,
// drives a served run, even one that learnt the port or the secret.
class RequestGate
{
public:
    struct Verdict
    {
        bool allowed = false;
        QByteArray why; // when refused: a few words for the error answer
        QByteArray target; // the target, without the secret when it came in the path
        QByteArray origin; // an allowed Origin the answer names (CORS), or none
    };

    // secretInPath: the secret may also come as the first segment of the
    // path (/<secret>/…), where a WebSocket address can carry it.
    RequestGate(const QByteArray& secret, const QStringList& allowedOrigins, bool secretInPath);

    // The endpoint's own port, which the Host field must name.
    void setPort(quint16 port) { m_port = port; }
    Verdict check(const HttpHead& head) const;
    // A CORS preflight of an origin named with --allow-origin: answered
    // without the secret (browsers send none), and does nothing.
    bool allowsPreflight(const HttpHead& head) const;
    const QByteArray& secret() const { return m_secret; }

    // 128 random bits from the system's source, in hex.
    static QByteArray newSecret();
    // Takes as long for every given text of the secret's length.
    static bool isSecret(const QByteArray& given, const QByteArray& secret);

private:
    bool hostIsOwn(const HttpHead& head) const;

    QByteArray m_secret;
    QStringList m_allowedOrigins;
    bool m_bSecretInPath = false;
    quint16 m_port = 0;
};
