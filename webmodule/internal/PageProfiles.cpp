#include "PageProfiles.h"

#include "Logging.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QMap>
#include <QtCore/QPointer>
#include <QtWebEngineCore/QWebEngineProfile>

namespace TaviWebModuleInternal {

namespace {

struct Profiles
{
    // By storage name; each in a folder of its own (two profiles on one
    // folder would share, and lock, each other's databases).
    QMap<QString, QPointer<QWebEngineProfile>> byName;
    QPointer<QWebEngineProfile> pages;
};

Profiles& profiles()
{
    static Profiles p;
    return p;
}

} // namespace

QWebEngineProfile* persistentProfile(const QString& storageName, const QString& folder)
{
    if (storageName.trimmed().isEmpty() || folder.trimmed().isEmpty()) {
        qCWarning(lcWebModule) << "No persistent profile without a storage name and a folder:"
                               << storageName << folder;
        return nullptr;
    }
    if (!QCoreApplication::instance()) {
        qCWarning(lcWebModule) << "No persistent profile before the application object:"
                               << storageName;
        return nullptr;
    }
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    Profiles& all = profiles();
    for (auto it = all.byName.cbegin(); it != all.byName.cend(); ++it) {
        if (!it.value())
            continue;
        const QString taken = it.value()->persistentStoragePath();
        if (it.key() == storageName && taken == path)
            return it.value();
        if (it.key() == storageName || taken == path) {
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Persistent profile %1 in %2 refused: profile %3 uses %4")
                       .arg(storageName, path, it.key(), taken);
            return nullptr;
        }
    }
    // The application object ends it: after the pages, which end with the
    // host's widgets, and before the engine.
    auto* profile = new QWebEngineProfile(storageName, QCoreApplication::instance());
    profile->setPersistentStoragePath(path);
    profile->setCachePath(path + QStringLiteral("/cache"));
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    // A VMS session is a session cookie: the operator stays signed in.
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    all.byName.insert(storageName, profile);
    qCInfo(lcWebModule).noquote()
        << QStringLiteral("Persistent profile %1 in %2").arg(storageName, path);
    return profile;
}

void setPagesProfile(QWebEngineProfile* profile)
{
    profiles().pages = profile;
}

QWebEngineProfile* pagesProfile()
{
    return profiles().pages.data();
}

void prepareProfile(QWebEngineProfile* profile)
{
    const QLatin1String mark("tavi-prepared");
    if (!profile || profile->findChild<QObject*>(mark, Qt::FindDirectChildrenOnly))
        return;
    (new QObject(profile))->setObjectName(mark);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // The page's policy answers each request: a stored answer would outlast
    // a change of the policy.
    profile->setPersistentPermissionsPolicy(
        QWebEngineProfile::PersistentPermissionsPolicy::AskEveryTime);
#endif
}

} // namespace TaviWebModuleInternal
