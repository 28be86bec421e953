#pragma once

// Internal to the module: files reached beneath the file roots through a
// handle of the root, so that a folder swapped for a link (or a link swapped
// in) while a call runs cannot carry a read, a write or a deletion out of
// the root. The check of the path (WebAccessPolicy) says whether the page
// may name it; this is what makes the system reach only what was checked.

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <sys/stat.h>
#include <sys/types.h>

namespace TaviWebModuleInternal {

// An owned file descriptor.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {}
    Fd(Fd&& other) noexcept
        : m_fd(other.release())
    {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd = -1;
};

// The roots the calls of one moment are held to. Unrestricted: no roots, a
// path is taken as the system finds it (links followed anywhere).
struct FileRoots
{
    bool restricted = false;
    QStringList read; // reads also go to write roots
    QStringList write;
};

enum class RootAccess { Read, Write };

// A name inside an open folder: what a write, a creation or a deletion acts on.
struct RootedName
{
    Fd dir;
    QByteArray name;
    int error = 0; // errno, when invalid; 0 for no path at all
    bool valid() const { return dir.valid(); }
};

// The folder that holds path's last name, opened beneath the root that
// holds path, and that name. With createFolders the missing folders on the
// way are made inside the root (without roots the caller makes them). With
// followLink a last name that is a symbolic link is followed, beneath the
// root, to the name it stands for. Invalid, errno set, when the path lies in
// no root or leads out of it (EXDEV), or its last name is "." or "..";
// error 0 for an empty path.
RootedName rootedName(const QString& path, const FileRoots& roots, RootAccess access,
                      bool createFolders, bool followLink);

// Opens path for reading beneath its root (read or write root), following
// links only while they stay beneath it. Only a regular file is opened (a
// pipe or a device never is, nor blocks the call): otherwise -1 with errno
// EINVAL ("not a regular file") or that of the failure. st gets the file's
// status. A file of more than one name (a hard link) is logged at debug
// level: its other names may lie outside the roots.
int openRegularForReading(const QString& path, const FileRoots& roots, struct stat* st);

// Resolves path for reading beneath its root without opening it: -1 with
// errno when it leads out of the root (EXDEV, ELOOP) or does not resolve; a
// file of more than one name is logged as above.
int probeForReading(const QString& path, const FileRoots& roots);

// Removes the regular file (or the link to one) at path, beneath its write
// root; a folder or anything else stays. False, errno set, when nothing was
// removed.
bool removeFileBeneath(const QString& path, const FileRoots& roots);

// Text for the errno of the functions above, for log lines.
QString rootedErrorText(int error);

// path as the system reaches it: every "." and ".." and every symbolic link
// of the part that exists resolved in order, as realpath does; the part that
// does not exist yet appended as written. Empty for a link loop.
QString physicalPath(const QString& path);

// How names are resolved beneath a root: the kernel's openat2 with
// RESOLVE_BENEATH where it has it, else a walk name by name with openat and
// O_NOFOLLOW. Tests force the walk to check it on kernels that have openat2.
enum class BeneathResolution { Automatic, WalkOnly };
void setBeneathResolution(BeneathResolution resolution);
// True when this kernel resolves beneath a root itself (openat2).
bool kernelResolvesBeneath();

} // namespace TaviWebModuleInternal
