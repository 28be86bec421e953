#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QByteArray>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>
#include <memory>

class WebAccessPolicyPrivate;

// Which pages get the "CWebComm" bridge and what it may touch: global() for
// the whole process, or a policy of the host's own for some pages (see
// VmsWebWidgets::setAccessPolicy). Every setter and query may be called from
// any thread. The defaults restrict nothing, as before the policy existed.
class TAVIWEBMODULE_EXPORT WebAccessPolicy : public QObject
{
    Q_OBJECT
public:
    // Where a page may navigate.
    enum NavigationPolicy {
        AllowAll, // the default
        TrustedOnly, // main-frame navigations and new windows to other origins are refused
    };
    Q_ENUM(NavigationPolicy)

    // A policy for the pages the host gives it to, restricting nothing until
    // set; owned by the host (or parent), which deletes it on the GUI thread.
    explicit WebAccessPolicy(QObject* parent = nullptr);
    ~WebAccessPolicy() override;

    // The policy of the process, which judges every page without a policy of
    // its own; never delete it.
    static WebAccessPolicy& global();

    // Entries such as "https://vms.example.com:8443", "http://10.0.0.5",
    // "https://*.example.com" (subdomains only), "qrc:" or "file:" (the whole
    // scheme). Scheme, host and port count (no port: the scheme's default);
    // paths are ignored. Empty trusts every origin. Unreadable entries are
    // dropped with a log line.
    void setTrustedOrigins(const QStringList& origins);
    // The entries as set, trimmed, unreadable ones dropped.
    QStringList trustedOrigins() const;
    // True when trustedOrigins() is not empty.
    bool restrictsOrigins() const;
    // True when url's origin is trusted (always, without trusted origins).
    bool isTrusted(const QUrl& url) const;

    // Folders the bridge may read from (read and write roots) and write or
    // delete in (write roots). Empty lists restrict nothing. Relative roots
    // are taken from the current folder now.
    void setFileRoots(const QStringList& readRoots, const QStringList& writeRoots);
    // The read roots as absolute folders.
    QStringList readRoots() const;
    // The write roots as absolute folders.
    QStringList writeRoots() const;
    // Judged on the path as the system reaches it: absolute (relative to the
    // current folder), "..", "." and the symbolic links of its existing part
    // resolved.
    bool mayRead(const QString& path) const;
    // True when path lies in a write root; always when no root of either kind
    // is set.
    bool mayWrite(const QString& path) const;

    // Applies to navigations that start from now on.
    void setNavigationPolicy(NavigationPolicy policy);
    // The policy set; AllowAll by default.
    NavigationPolicy navigationPolicy() const;

    // SHA-256 fingerprints of server certificates (the leaf) accepted despite
    // a certificate error: hex, upper or lower case, colons optional.
    // Returned in the form "AB:CD:...".
    void setPinnedCertificates(const QStringList& sha256Fingerprints);
    // The pins as set, in the form "AB:CD:...".
    QStringList pinnedCertificates() const;
    // True when the raw SHA-256 digest sha256 is pinned.
    bool isPinned(const QByteArray& sha256) const;

    // Browser features a page may ask for.
    enum Feature {
        Notifications, // Notification.requestPermission(), new Notification()
        Geolocation, // navigator.geolocation
        Microphone, // getUserMedia({ audio: true })
        Camera, // getUserMedia({ video: true })
        CameraAndMicrophone, // getUserMedia({ audio: true, video: true })
        ScreenCapture, // getDisplayMedia()
        ScreenAndAudioCapture, // getDisplayMedia({ audio: true })
        PointerLock, // element.requestPointerLock()
        ClipboardRead, // navigator.clipboard.readText(); writing needs only trust
    };
    Q_ENUM(Feature)
    // How a trusted document's request of a feature is answered.
    enum PermissionAnswer {
        Deny, // the default; one log line
        Grant,
        AskHost, // VmsWebWidgets::permissionRequested; the host answers
    };
    Q_ENUM(PermissionAnswer)

    // Requests of feature from trusted documents of origins (entries as for
    // setTrustedOrigins; empty: every trusted origin) get answer; replaces
    // the origins set for that feature and answer before. Deny with origins
    // denies them whatever else is set; Deny without origins forgets all
    // that was set for feature. Documents the policy does not trust are
    // always denied.
    void setPermission(Feature feature, PermissionAnswer answer, const QStringList& origins = {});
    // The answer for a request of feature from a document of url, its trust
    // aside: Deny over Grant over AskHost where several name it; Deny when
    // none does.
    PermissionAnswer permission(Feature feature, const QUrl& url) const;

    // "scheme://host:port" of url, or "scheme:" for schemes without hosts;
    // what log lines name.
    static QString originOf(const QUrl& url);
    // sha256 in the form "AB:CD:...".
    static QString fingerprintText(const QByteArray& sha256);

Q_SIGNALS:
    // Trusted origins, file roots, the navigation policy or a permission
    // changed. Emitted
    // on the thread that changed them.
    void changed();

private:
    // Behind a pointer, so that what the policy holds may change in later
    // releases without changing the class's layout.
    const std::unique_ptr<WebAccessPolicyPrivate> m_d;
};
