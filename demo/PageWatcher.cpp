#include "PageWatcher.h"

#include <QtCore/QDirIterator>
#include <QtCore/QFileInfo>

namespace {

bool ignored(const QString& name)
{
    return name.startsWith(QLatin1Char('.')) || name == QLatin1String("node_modules");
}

} // namespace

PageWatcher::PageWatcher(const QString& folder, QObject* parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] { Q_EMIT changed(m_lastPath); });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &PageWatcher::onChange);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PageWatcher::onChange);
    watch(folder);
}

// The folder and what is under it that is not watched yet.
void PageWatcher::watch(const QString& folder)
{
    QStringList paths { folder };
    const auto filters = QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot;
    QDirIterator it(folder, filters);
    while (it.hasNext()) {
        const QString path = it.next();
        if (ignored(it.fileName()))
            continue;
        if (it.fileInfo().isDir() && !it.fileInfo().isSymLink())
            watch(path);
        else
            paths.append(path);
    }
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    paths.removeIf([&watched](const QString& p) { return watched.contains(p); });
    if (!paths.isEmpty())
        m_watcher.addPaths(paths);
}

void PageWatcher::onChange(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        watch(path); // new files and folders in it
    else if (info.exists() && !m_watcher.files().contains(path))
        m_watcher.addPath(path); // saved as a new file over the old one
    else if (!info.exists() && info.dir().exists())
        watch(info.absolutePath()); // renamed away: its replacement, once there
    m_lastPath = path;
    m_settle.start();
}
