#include "RequestGate.h"

#include <QtCore/QRandomGenerator>

QByteArray HttpHead::field(const QByteArray& name, int* count) const
{
    QByteArray value;
    int n = 0;
    for (const auto& f : fields)
        if (f.first == name) {
            if (n++ == 0)
                value = f.second;
        }
    if (count)
        *count = n;
    return value;
}

void HttpHead::removeField(const QByteArray& name)
{
    fields.removeIf([&name](const QPair<QByteArray, QByteArray>& f) { return f.first == name; });
}

void HttpHead::setField(const QByteArray& name, const QByteArray& value)
{
    removeField(name);
    fields.append({ name, value });
}

std::optional<HttpHead> HttpHead::parse(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine.at(0).isEmpty() || !requestLine.at(1).startsWith('/')
        || !requestLine.at(2).startsWith("HTTP/"))
        return std::nullopt;
    HttpHead parsed;
    parsed.method = requestLine.at(0);
    parsed.target = requestLine.at(1);
    parsed.version = requestLine.at(2);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        // A folded line or a name with blanks would let two readers see two
        // different heads.
        if (colon <= 0 || line.left(colon).contains(' ') || line.left(colon).contains('\t')
            || line.startsWith(' ') || line.startsWith('\t'))
            return std::nullopt;
        parsed.fields.append({ line.left(colon).toLower(), line.mid(colon + 1).trimmed() });
    }
    return parsed;
}

QByteArray HttpHead::toBytes() const
{
    QByteArray bytes = method + ' ' + target + ' ' + version + "\r\n";
    for (const auto& f : fields)
        bytes += f.first + ": " + f.second + "\r\n";
    return bytes + "\r\n";
}

RequestGate::RequestGate(const QByteArray& secret, const QStringList& allowedOrigins,
                         bool secretInPath)
    : m_secret(secret)
    , m_allowedOrigins(allowedOrigins)
    , m_bSecretInPath(secretInPath)
{}

bool RequestGate::hostIsOwn(const HttpHead& head) const
{
    // A rebound DNS name reaches this port as well; its requests name it.
    int count = 0;
    const QByteArray host = head.field("host", &count).toLower();
    const QByteArray port = ':' + QByteArray::number(m_port);
    return count == 1 && m_port != 0 && (host == "127.0.0.1" + port || host == "localhost" + port);
}

RequestGate::Verdict RequestGate::check(const HttpHead& head) const
{
    Verdict verdict;
    if (!hostIsOwn(head)) {
        verdict.why = "a Host other than this endpoint's own";
        return verdict;
    }
    int origins = 0;
    const QByteArray origin = head.field("origin", &origins);
    if (origins > 1 || (origins == 1 && !m_allowedOrigins.contains(QString::fromUtf8(origin)))) {
        verdict.why = "a request of a web page (Origin " + origin.left(100) + ")";
        return verdict;
    }
    // A page's plain link or form sends no Origin, but this.
    const QByteArray fetchSite = head.field("sec-fetch-site");
    if (origins == 0 && !fetchSite.isEmpty() && fetchSite != "none") {
        verdict.why = "a request of a web page (Sec-Fetch-Site " + fetchSite.left(20) + ")";
        return verdict;
    }
    verdict.origin = origin;
    verdict.target = head.target;
    int authorizations = 0;
    const QByteArray authorization = head.field("authorization", &authorizations);
    const QByteArray bearer = "bearer ";
    if (authorizations == 1 && authorization.left(bearer.size()).toLower() == bearer
        && isSecret(authorization.mid(bearer.size()).trimmed(), m_secret)) {
        verdict.allowed = true;
        return verdict;
    }
    if (m_bSecretInPath && authorizations == 0) {
        const qsizetype end = head.target.indexOf('/', 1);
        const QByteArray first = head.target.mid(1, end < 0 ? -1 : end - 1);
        if (isSecret(first, m_secret)) {
            verdict.allowed = true;
            verdict.target = end < 0 ? QByteArray("/") : head.target.mid(end);
            return verdict;
        }
    }
    verdict.why = "the run's secret is missing or wrong";
    return verdict;
}

bool RequestGate::allowsPreflight(const HttpHead& head) const
{
    int origins = 0;
    const QByteArray origin = head.field("origin", &origins);
    return head.method == "OPTIONS" && hostIsOwn(head) && origins == 1
        && m_allowedOrigins.contains(QString::fromUtf8(origin));
}

QByteArray RequestGate::newSecret()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof(words)).toHex();
}

bool RequestGate::isSecret(const QByteArray& given, const QByteArray& secret)
{
    // The length is no secret: it is the same in every run.
    if (secret.isEmpty() || given.size() != secret.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given.at(i) ^ secret.at(i));
    return difference == 0;
}
