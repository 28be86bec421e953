#include "DurableSync.h"

#include <QtCore/QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace TaviWebModuleInternal {

namespace {

// EINVAL: a file system or special file that has nothing to force (as for a
// pipe); the data is then as far as it can go.
bool synced(int result, QString* error)
{
    if (result == 0 || errno == EINVAL)
        return true;
    if (error)
        *error = qt_error_string(errno);
    return false;
}

} // namespace

bool syncFile(int fd, QString* error)
{
    int result;
    do {
        result = ::fdatasync(fd);
    } while (result != 0 && errno == EINTR);
    return synced(result, error);
}

bool syncFile(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = qt_error_string(errno);
        return false;
    }
    const bool ok = syncFile(fd, error);
    ::close(fd);
    return ok;
}

// Syncs fd, a folder this function opened (or -1 with errno set), and
// closes it.
static bool syncOpenedDirectory(int fd, QString* error)
{
    if (fd < 0) {
        if (error)
            *error = qt_error_string(errno);
        return false;
    }
    const bool ok = syncDirectory(fd, error);
    ::close(fd);
    return ok;
}

bool syncDirectory(int dirfd, QString* error)
{
    const int flags = ::fcntl(dirfd, F_GETFL);
    if (flags != -1 && (flags & O_PATH)) {
        // A folder held as a path only cannot be synced itself; the same
        // folder opened for reading can.
        return syncOpenedDirectory(::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), error);
    }
    int result;
    do {
        result = ::fsync(dirfd);
    } while (result != 0 && errno == EINTR);
    return synced(result, error);
}

bool syncDirectory(const QString& path, QString* error)
{
    return syncOpenedDirectory(
        ::open(QFile::encodeName(path.isEmpty() ? QStringLiteral(".") : path).constData(),
               O_RDONLY | O_DIRECTORY | O_CLOEXEC),
        error);
}

} // namespace TaviWebModuleInternal
