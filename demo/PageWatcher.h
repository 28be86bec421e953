#pragma once

#include <QtCore/QFileSystemWatcher>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTimer>

// Tells when a file under a page's folder changes: every file and folder
// there is watched, the new ones as they come (hidden ones and node_modules
// left out); a burst of changes, as an editor's save or a build makes, is
// told once, when it has settled.
class PageWatcher : public QObject
{
    Q_OBJECT
public:
    PageWatcher(const QString& folder, QObject* parent = nullptr);

    // How long the folder must stay unchanged before a change is told.
    static constexpr int kSettleMs = 250;

Q_SIGNALS:
    // path: the last file or folder that changed.
    void changed(const QString& path);

private:
    void watch(const QString& folder);
    void onChange(const QString& path);

    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QString m_lastPath;
};
