#pragma once

// Internal to the module: how the bridge writes files (copies, snapshots)
// so that a failure never leaves a partial file or harms an existing one.

#include "RootedFiles.h"

#include <QtCore/QFile>
#include <QtCore/QString>
#include <atomic>
#include <sys/types.h>

namespace TaviWebModuleInternal {

// Writes a file like QSaveFile: into a hidden temporary file beside the
// target, which replaces the target by rename only when complete. Like
// QSaveFile it forces the data to the disk before the rename, and the folder
// entry after it: a write reported done survives a power loss. A symbolic
// link as target is written through. The temporary file and the rename act
// inside the target's folder as it was opened, whatever its path comes to
// name meanwhile.
class ReplacingFile
{
public:
    // target taken as the system finds it, without roots.
    explicit ReplacingFile(const QString& target);
    // A target found beneath a root (see rootedName, with followLink).
    explicit ReplacingFile(RootedName target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file; false (see errorString) when the target
    // cannot be written at all.
    bool open();
    QFile& file() { return m_temp; }
    // Permission bits for a target that does not exist yet (default: what
    // open(2) gives, 0666 less the umask); an existing target keeps its own.
    void setNewFileMode(mode_t mode) { m_newMode = mode; }
    // Puts the new content in place under the target's name, synced to the
    // disk. Without a commit, or when the data cannot be synced, the
    // temporary file goes with this object and the target stays as it was;
    // when only the folder cannot be synced after the rename, the new content
    // stands there but commit still fails.
    bool commit();
    QString errorString() const;

private:
    static constexpr mode_t kDefaultMode = mode_t(-1);

    RootedName m_target;
    QByteArray m_tempName; // in m_target.dir, while it is there
    QFile m_temp;
    QString m_error;
    mode_t m_newMode = kDefaultMode;
};

// Lets the kernel copy from in to out without passing the bytes through the
// process, as cp does. Returns the bytes copied; stops early (for the
// caller's own loop to go on from there) where the kernel cannot or fails,
// or once stop is raised.
qint64 kernelCopy(QFile& in, QFile& out, const std::atomic<bool>* stop = nullptr,
                  const std::function<void(qint64 done, qint64 total)>& progress = {});

// True when both paths name the same file on disk: same spelling, another
// spelling, a symbolic link or a hard link.
bool isSameFile(const QString& a, const QString& b);

// The process's file creation mask, read without changing it.
mode_t processUmask();

// True when path fits the system's limits (PATH_MAX for the whole, NAME_MAX
// for each name in it), checked in one pass; every path a page sends is
// checked before any other work, so that none can hold the window.
bool withinPathLimits(const QString& path);

} // namespace TaviWebModuleInternal
