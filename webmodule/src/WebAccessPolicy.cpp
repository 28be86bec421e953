#include "WebAccessPolicy.h"

#include "FileWriter.h"
#include "Logging.h"
#include "RootedFiles.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace TaviWebModuleInternal {

struct TrustedOrigin
{
    QString scheme; // empty: an entry that could not be read
    QString host; // empty: any URL of the scheme
    int port = -1;
    bool subdomains = false;
};

} // namespace TaviWebModuleInternal

// What the policy holds, behind one lock: every setter and query may come
// from any thread.
class WebAccessPolicyPrivate
{
public:
    mutable std::mutex m_mutex;
    QStringList m_origins;
    // m_origins as read once, for the checks of every call and push.
    std::vector<TaviWebModuleInternal::TrustedOrigin> m_trusted;
    QStringList m_readRoots;
    QStringList m_writeRoots;
    WebAccessPolicy::NavigationPolicy m_navigation = WebAccessPolicy::AllowAll;
    QList<QByteArray> m_pins;
    // Per feature and answer: the origins it holds for (none: every one).
    struct Permission
    {
        bool everyOrigin = false;
        std::vector<TaviWebModuleInternal::TrustedOrigin> origins;
    };
    std::map<std::pair<int, int>, Permission> m_permissions;
};

namespace {

using TaviWebModuleInternal::TrustedOrigin;

int defaultPort(const QString& scheme)
{
    if (scheme == QLatin1String("https") || scheme == QLatin1String("wss"))
        return 443;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("ws"))
        return 80;
    return -1;
}

// An entry of the trusted list; scheme empty when it cannot be read.
TrustedOrigin parseEntry(const QString& entry)
{
    TrustedOrigin o;
    const QString text = entry.trimmed();
    static const QRegularExpression schemeOnly(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):$"));
    if (const QRegularExpressionMatch m = schemeOnly.match(text); m.hasMatch()) {
        o.scheme = m.captured(1).toLower();
        return o;
    }
    QString hostText = text;
    // QUrl takes no "*" in a host: read the rest, then put the wildcard back.
    const qsizetype star = text.indexOf(QLatin1String("://*."));
    if (star > 0) {
        o.subdomains = true;
        hostText = text.left(star + 3) + text.mid(star + 5);
    }
    const QUrl url(hostText, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return TrustedOrigin();
    o.scheme = url.scheme();
    o.host = url.host();
    o.port = url.port(defaultPort(o.scheme));
    return o;
}

bool matches(const TrustedOrigin& o, const QUrl& url)
{
    if (o.scheme.isEmpty() || url.scheme() != o.scheme)
        return false;
    if (o.host.isEmpty())
        return true;
    if (url.port(defaultPort(o.scheme)) != o.port)
        return false;
    const QString host = url.host();
    if (o.subdomains)
        return host.endsWith(QLatin1Char('.') + o.host);
    return host == o.host;
}

bool inside(const QString& path, const QStringList& roots)
{
    // The system reads a path only up to a NUL: what lies behind one would
    // be judged here but never opened.
    if (!TaviWebModuleInternal::withinPathLimits(path) || path.contains(QChar(u'\0')))
        return false;
    using TaviWebModuleInternal::physicalPath;
    const QString physical = physicalPath(path);
    if (physical.isEmpty())
        return false;
    for (const QString& root : roots) {
        const QString r = physicalPath(root);
        if (r.isEmpty())
            continue;
        if (r == QLatin1String("/") || physical == r || physical.startsWith(r + QLatin1Char('/')))
            return true;
    }
    return false;
}

QStringList absoluteRoots(const QStringList& roots)
{
    QStringList out;
    for (const QString& root : roots)
        if (!root.isEmpty())
            out << QDir::cleanPath(
                QDir::isAbsolutePath(root) ? root : QDir::currentPath() + QLatin1Char('/') + root);
    return out;
}

QByteArray normalisedPin(const QString& text)
{
    QString hex = text;
    hex.remove(QLatin1Char(':')).remove(QLatin1Char(' '));
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    return bytes.size() == 32 && bytes.toHex() == hex.toLower().toLatin1() ? bytes : QByteArray();
}

} // namespace

WebAccessPolicy::WebAccessPolicy(QObject* parent)
    : QObject(parent)
    , m_d(std::make_unique<WebAccessPolicyPrivate>())
{}

WebAccessPolicy::~WebAccessPolicy() = default;

WebAccessPolicy& WebAccessPolicy::global()
{
    static WebAccessPolicy policy;
    return policy;
}

void WebAccessPolicy::setTrustedOrigins(const QStringList& origins)
{
    QStringList kept;
    std::vector<TrustedOrigin> trusted;
    for (const QString& entry : origins) {
        TrustedOrigin origin = parseEntry(entry);
        if (origin.scheme.isEmpty()) {
            qCWarning(lcWebModule) << "Trusted origin not understood, ignored:" << entry;
        } else {
            kept << entry.trimmed();
            trusted.push_back(std::move(origin));
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_d->m_mutex);
        m_d->m_origins = kept;
        m_d->m_trusted = std::move(trusted);
    }
    Q_EMIT changed();
}

QStringList WebAccessPolicy::trustedOrigins() const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return m_d->m_origins;
}

bool WebAccessPolicy::restrictsOrigins() const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return !m_d->m_origins.isEmpty();
}

bool WebAccessPolicy::isTrusted(const QUrl& url) const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return m_d->m_trusted.empty()
        || std::any_of(m_d->m_trusted.cbegin(), m_d->m_trusted.cend(),
                       [&url](const TrustedOrigin& o) { return matches(o, url); });
}

void WebAccessPolicy::setFileRoots(const QStringList& readRoots, const QStringList& writeRoots)
{
    {
        std::lock_guard<std::mutex> lock(m_d->m_mutex);
        m_d->m_readRoots = absoluteRoots(readRoots);
        m_d->m_writeRoots = absoluteRoots(writeRoots);
    }
    Q_EMIT changed();
}

QStringList WebAccessPolicy::readRoots() const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return m_d->m_readRoots;
}

QStringList WebAccessPolicy::writeRoots() const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return m_d->m_writeRoots;
}

bool WebAccessPolicy::mayRead(const QString& path) const
{
    QStringList roots;
    {
        std::lock_guard<std::mutex> lock(m_d->m_mutex);
        if (m_d->m_readRoots.isEmpty() && m_d->m_writeRoots.isEmpty())
            return true;
        roots = m_d->m_readRoots + m_d->m_writeRoots;
    }
    return inside(path, roots);
}

bool WebAccessPolicy::mayWrite(const QString& path) const
{
    QStringList roots;
    {
        std::lock_guard<std::mutex> lock(m_d->m_mutex);
        if (m_d->m_readRoots.isEmpty() && m_d->m_writeRoots.isEmpty())
            return true;
        roots = m_d->m_writeRoots;
    }
    return inside(path, roots);
}

void WebAccessPolicy::setNavigationPolicy(NavigationPolicy policy)
{
    {
        std::lock_guard<std::mutex> lock(m_d->m_mutex);
        m_d->m_navigation = policy;
    }
    Q_EMIT changed();
}

WebAccessPolicy::NavigationPolicy WebAccessPolicy::navigationPolicy() const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return m_d->m_navigation;
}

void WebAccessPolicy::setPinnedCertificates(const QStringList& sha256Fingerprints)
{
    QList<QByteArray> pins;
    for (const QString& text : sha256Fingerprints) {
        const QByteArray pin = normalisedPin(text);
        if (pin.isEmpty())
            qCWarning(lcWebModule)
                << "Pinned certificate is no SHA-256 fingerprint, ignored:" << text;
        else
            pins << pin;
    }
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    m_d->m_pins = pins;
}

QStringList WebAccessPolicy::pinnedCertificates() const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    QStringList out;
    for (const QByteArray& pin : m_d->m_pins)
        out << fingerprintText(pin);
    return out;
}

bool WebAccessPolicy::isPinned(const QByteArray& sha256) const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    return !sha256.isEmpty() && m_d->m_pins.contains(sha256);
}

void WebAccessPolicy::setPermission(Feature feature, PermissionAnswer answer,
                                    const QStringList& origins)
{
    WebAccessPolicyPrivate::Permission permission;
    permission.everyOrigin = origins.isEmpty();
    for (const QString& entry : origins) {
        TrustedOrigin origin = parseEntry(entry);
        if (origin.scheme.isEmpty())
            qCWarning(lcWebModule) << "Permitted origin not understood, ignored:" << entry;
        else
            permission.origins.push_back(std::move(origin));
    }
    {
        std::lock_guard<std::mutex> lock(m_d->m_mutex);
        if (answer == Deny && origins.isEmpty()) {
            for (const PermissionAnswer a : { Deny, Grant, AskHost })
                m_d->m_permissions.erase({ feature, a });
        } else {
            m_d->m_permissions[{ feature, answer }] = std::move(permission);
        }
    }
    Q_EMIT changed();
}

WebAccessPolicy::PermissionAnswer WebAccessPolicy::permission(Feature feature,
                                                              const QUrl& url) const
{
    std::lock_guard<std::mutex> lock(m_d->m_mutex);
    for (const PermissionAnswer answer : { Deny, Grant, AskHost }) {
        const auto it = m_d->m_permissions.find({ feature, answer });
        if (it == m_d->m_permissions.end())
            continue;
        const WebAccessPolicyPrivate::Permission& p = it->second;
        if (p.everyOrigin
            || std::any_of(p.origins.cbegin(), p.origins.cend(),
                           [&url](const TrustedOrigin& o) { return matches(o, url); }))
            return answer;
    }
    return Deny;
}

QString WebAccessPolicy::originOf(const QUrl& url)
{
    if (url.host().isEmpty())
        return url.scheme() + QLatin1Char(':');
    return QStringLiteral("%1://%2:%3")
        .arg(url.scheme(), url.host())
        .arg(url.port(defaultPort(url.scheme())));
}

QString WebAccessPolicy::fingerprintText(const QByteArray& sha256)
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}
