#include "MakePath.h"

#include "DurableSync.h"
#include "FileWriter.h"
#include "Logging.h"
#include "WarningBudget.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

int MakePath(QString path)
{
    if (!TaviWebModuleInternal::withinPathLimits(path)) {
        qCDebug(lcWebModule) << "MakePath: path beyond the system's limits refused, length"
                             << path.size();
        return -1;
    }
    // Without a parent part there is nothing to create under.
    const qsizetype lastSlash = path.lastIndexOf(QLatin1Char('/'));
    if (lastSlash <= 0)
        return -1;

    // One pass from the first name down, as mkdir -p does. The first name
    // (a folder directly under the root, or the first folder of a relative
    // path) is never created: it must exist. Relative paths are resolved
    // against the current folder.
    const qsizetype firstEnd
        = path.indexOf(QLatin1Char('/'), path.startsWith(QLatin1Char('/')) ? 1 : 0);
    if (!QFileInfo(path.left(firstEnd)).isDir())
        return -1;
    QDir dir;
    for (qsizetype end = path.indexOf(QLatin1Char('/'), firstEnd + 1);;
         end = path.indexOf(QLatin1Char('/'), end + 1)) {
        const QString prefix = end < 0 ? path : path.left(end);
        // An existing directory is fine; a file in the way fails below. A
        // folder made is synced into its parent, or a power loss could take
        // it and what is written in it later.
        if (!prefix.endsWith(QLatin1Char('/')) && dir.mkdir(prefix)) {
            const QString parent = prefix.left(prefix.lastIndexOf(QLatin1Char('/')));
            QString error;
            if (!TaviWebModuleInternal::syncDirectory(parent, &error)
                && TaviWebModuleInternal::mayWarn(nullptr, QStringLiteral("folder syncs")))
                qCWarning(lcWebModule) << "MakePath: failed to sync the folder" << prefix << error;
        }
        if (end < 0)
            break;
    }
    return QFileInfo(path).isDir() ? 0 : -1;
}
