#pragma once

// Internal to the module: a finished download kept on the disk under its
// name. The engine forces the file's data to the disk before it renames the
// file to its name, but not the folder's entry after: a power loss could
// leave no file under that name. So the module syncs a completed download's
// file and folder, and the folders it made for it, before it has done with it.

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <functional>

class QWebEngineDownloadRequest;

namespace TaviWebModuleInternal {

// QDir().mkpath(folder); created gets the folders that it made, outermost
// first.
bool makeDownloadFolder(const QString& folder, QStringList* created);

// Once download, accepted into path, has ended: when it completed, the
// file's data, its folder's entries and the entry of each folder of created
// in its parent are forced to the disk on a thread of their own, then done
// runs on the GUI thread. A cancelled or interrupted download is not synced:
// done runs at once.
void syncWhenEnded(QWebEngineDownloadRequest* download, const QString& path,
                   const QStringList& created, std::function<void()> done);

} // namespace TaviWebModuleInternal
