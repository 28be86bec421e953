#include "RootedFiles.h"

#include "Logging.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QList>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#else
struct open_how
{
    __u64 flags;
    __u64 mode;
    __u64 resolve;
};
#define RESOLVE_NO_MAGICLINKS 0x02
#define RESOLVE_BENEATH 0x08
#endif
#ifndef SYS_openat2
#define SYS_openat2 437
#endif

namespace TaviWebModuleInternal {

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

constexpr int kMaxLinks = 40; // as the kernel's own limit
// A rename elsewhere in the tree during a kernel resolution beneath a root
// makes it ask to be tried again.
constexpr int kRetries = 8;

std::atomic<BeneathResolution> s_resolution { BeneathResolution::Automatic };

// -1: not asked yet; 0: no openat2 (old kernel, or a sandbox refusing it).
std::atomic<int> s_kernelBeneath { -1 };

int callOpenat2(int dir, const char* path, int flags, mode_t mode, quint64 resolve)
{
    open_how how = {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = resolve;
    return int(::syscall(SYS_openat2, dir, path, &how, sizeof how));
}

// Where a path lies: the root it is beneath (held open) and the path from
// there. Without roots: the current folder and the path as given.
struct Located
{
    bool ok = false;
    Fd root; // invalid: the current folder (AT_FDCWD)
    bool beneath = false; // resolution must stay beneath root
    QByteArray rel;
    int dirFd() const { return root.valid() ? root.get() : AT_FDCWD; }
};

Located locate(const QString& path, const FileRoots& roots, RootAccess access)
{
    Located at;
    if (!roots.restricted) {
        at.ok = true;
        at.rel = QFile::encodeName(path);
        return at;
    }
    // The folder as the system reaches it now; the last name stays as
    // written, for the caller to follow or not.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".")
        : slash == 0                 ? QStringLiteral("/")
                                     : path.left(slash);
    const QString name = path.mid(slash + 1);
    const QString physical = physicalPath(folder);
    if (physical.isEmpty()) {
        errno = ELOOP;
        return at;
    }
    const QStringList candidates
        = access == RootAccess::Write ? roots.write : roots.read + roots.write;
    for (const QString& root : candidates) {
        const QString r = physicalPath(root);
        QString inner;
        if (r.isEmpty())
            continue;
        if (r == QLatin1String("/"))
            inner = physical.mid(1);
        else if (physical.startsWith(r + QLatin1Char('/')))
            inner = physical.mid(r.size() + 1);
        else if (physical != r)
            continue;
        // The root's own path is the host's: taken as the system finds it.
        Fd fd(::open(QFile::encodeName(r).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!fd.valid())
            continue;
        at.ok = true;
        at.root = std::move(fd);
        at.beneath = r != QLatin1String("/");
        at.rel = QFile::encodeName(inner.isEmpty() ? name : inner + QLatin1Char('/') + name);
        return at;
    }
    errno = EXDEV;
    return at;
}

QByteArray readLinkOf(int fd, const char* name)
{
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlinkat(fd, name, target.data(), size_t(target.size()));
    if (n <= 0 || n >= target.size()) {
        if (n >= 0)
            errno = ENAMETOOLONG;
        return QByteArray();
    }
    target.truncate(n);
    return target;
}

// Resolution beneath root name by name: each name opened with O_NOFOLLOW
// relative to the folder held open before it; links read and resolved here,
// refused when absolute; ".." never above root.
int walkBeneath(int root, const QByteArray& rel, int flags, mode_t mode)
{
    std::vector<Fd> held;
    held.emplace_back(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!held.back().valid())
        return -1;
    QList<QByteArray> rest = rel.split('/');
    int links = 0;
    while (!rest.isEmpty()) {
        const QByteArray part = rest.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (held.size() == 1) {
                errno = EXDEV;
                return -1;
            }
            held.pop_back();
            continue;
        }
        const int top = held.back().get();
        const bool last = rest.isEmpty();
        Fd node(::openat(top, part.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!node.valid()) {
            if (last && errno == ENOENT && (flags & O_CREAT))
                return ::openat(top, part.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
            return -1;
        }
        struct stat st = {};
        if (::fstat(node.get(), &st) != 0)
            return -1;
        if (S_ISLNK(st.st_mode)) {
            if ((last && (flags & O_NOFOLLOW)) || ++links > kMaxLinks) {
                errno = ELOOP;
                return -1;
            }
            const QByteArray target = readLinkOf(node.get(), "");
            if (target.isEmpty())
                return -1;
            if (target.startsWith('/')) {
                errno = EXDEV;
                return -1;
            }
            rest = target.split('/') + rest;
            continue;
        }
        if (last) {
            if ((flags & O_DIRECTORY) && !S_ISDIR(st.st_mode)) {
                errno = ENOTDIR;
                return -1;
            }
            if (flags & O_PATH)
                return node.release();
            // Opened again by name: only what was just looked at will do.
            Fd fd(::openat(top, part.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
            struct stat now = {};
            if (fd.valid()
                && (::fstat(fd.get(), &now) != 0 || now.st_dev != st.st_dev
                    || now.st_ino != st.st_ino)) {
                errno = EAGAIN;
                return -1;
            }
            return fd.release();
        }
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return -1;
        }
        held.push_back(std::move(node));
    }
    return ::openat(held.back().get(), ".", (flags & ~(O_CREAT | O_EXCL)) | O_CLOEXEC, mode);
}

int openIn(const Located& at, const QByteArray& rel, int flags, mode_t mode = 0)
{
    const char* name = rel.isEmpty() ? "." : rel.constData();
    if (!at.beneath)
        return ::openat(at.dirFd(), name, flags | O_CLOEXEC, mode);
    if (s_resolution == BeneathResolution::Automatic && kernelResolvesBeneath()) {
        for (int i = 0; i < kRetries; ++i) {
            const int fd = callOpenat2(at.dirFd(), name, flags, mode,
                                       RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
            if (fd >= 0 || errno != EAGAIN)
                return fd;
        }
        return -1;
    }
    return walkBeneath(at.dirFd(), rel, flags, mode);
}

// Makes the missing folders of folder (a path from the root) one by one,
// each inside the one before it.
void makeFolders(const Located& at, const QByteArray& folder)
{
    QByteArray done;
    for (const QByteArray& part : folder.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        const QByteArray next = done.isEmpty() ? part : done + '/' + part;
        if (!Fd(openIn(at, next, O_PATH | O_DIRECTORY)).valid()) {
            if (errno != ENOENT)
                return;
            const Fd parent(openIn(at, done, O_PATH | O_DIRECTORY));
            if (!parent.valid()
                || (::mkdirat(parent.get(), part.constData(), 0777) != 0 && errno != EEXIST))
                return;
        }
        done = next;
    }
}

void noteOtherNames(const QString& path, const struct stat& st)
{
    if (S_ISREG(st.st_mode) && st.st_nlink > 1)
        qCDebug(lcWebModule) << "Reading a file that has" << qulonglong(st.st_nlink)
                             << "names (hard links); the others may lie outside the file roots:"
                             << path;
}

} // namespace

RootedName rootedName(const QString& path, const FileRoots& roots, RootAccess access,
                      bool createFolders, bool followLink)
{
    RootedName out;
    if (path.isEmpty())
        return out;
    Located at = locate(path, roots, access);
    if (!at.ok) {
        out.error = errno;
        return out;
    }
    QByteArray rel = at.rel;
    for (int links = 0; links <= kMaxLinks; ++links) {
        const qsizetype slash = rel.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".")
            : slash == 0                    ? QByteArray("/")
                                            : rel.left(slash);
        const QByteArray name = rel.mid(slash + 1);
        if (name.isEmpty() || name == "." || name == "..") {
            out.error = EISDIR;
            return out;
        }
        if (createFolders && at.beneath)
            makeFolders(at, folder);
        Fd dir(openIn(at, folder, O_PATH | O_DIRECTORY));
        if (!dir.valid()) {
            out.error = errno;
            return out;
        }
        struct stat st = {};
        if (!followLink || ::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISLNK(st.st_mode)) {
            out.dir = std::move(dir);
            out.name = name;
            return out;
        }
        const QByteArray target = readLinkOf(dir.get(), name.constData());
        if (target.isEmpty()) {
            out.error = errno;
            return out;
        }
        if (target.startsWith('/') && at.beneath) {
            // Judged afresh from where it points: inside a root, or refused.
            at = locate(QFile::decodeName(target), roots, access);
            if (!at.ok) {
                out.error = errno;
                return out;
            }
            rel = at.rel;
        } else if (target.startsWith('/')) {
            rel = target;
        } else {
            rel = folder + '/' + target;
        }
    }
    out.error = ELOOP;
    return out;
}

int openRegularForReading(const QString& path, const FileRoots& roots, struct stat* st)
{
    const RootedName at = rootedName(path, roots, RootAccess::Read, false, true);
    if (!at.valid()) {
        errno = at.error ? at.error : ENOENT;
        return -1;
    }
    // Looked at before it is opened: opening a pipe or a device may block or
    // act on the device.
    struct stat first = {};
    if (::fstatat(at.dir.get(), at.name.constData(), &first, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!S_ISREG(first.st_mode)) {
        errno = S_ISLNK(first.st_mode) ? ELOOP : EINVAL; // a link only if swapped in meanwhile
        return -1;
    }
    const auto open = [&](int flags) {
        return Fd(
            ::openat(at.dir.get(), at.name.constData(), flags | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    };
    Fd fd = open(O_RDONLY | O_NONBLOCK);
    // A lease on the file (another program about to let go of it) is waited
    // for, as a plain open does; it was a regular file a moment ago.
    if (!fd.valid() && errno == EWOULDBLOCK)
        fd = open(O_RDONLY);
    if (!fd.valid() || ::fstat(fd.get(), st) != 0)
        return -1;
    if (st->st_dev != first.st_dev || st->st_ino != first.st_ino) {
        errno = EAGAIN; // replaced meanwhile
        return -1;
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    noteOtherNames(path, *st);
    return fd.release();
}

int probeForReading(const QString& path, const FileRoots& roots)
{
    const RootedName at = rootedName(path, roots, RootAccess::Read, false, true);
    struct stat st = {};
    if (!at.valid()) {
        errno = at.error ? at.error : ENOENT;
        return -1;
    }
    if (::fstatat(at.dir.get(), at.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    noteOtherNames(path, st);
    return 0;
}

bool removeFileBeneath(const QString& path, const FileRoots& roots)
{
    const RootedName at = rootedName(path, roots, RootAccess::Write, false, false);
    if (!at.valid()) {
        errno = at.error;
        return false;
    }
    struct stat st = {};
    if (::fstatat(at.dir.get(), at.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    // A link to a file is removed itself; what it points to stays.
    if (S_ISLNK(st.st_mode) && ::fstatat(at.dir.get(), at.name.constData(), &st, 0) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    return ::unlinkat(at.dir.get(), at.name.constData(), 0) == 0;
}

QString rootedErrorText(int error)
{
    switch (error) {
    case EXDEV:
        return QStringLiteral("the path leads out of its file root");
    case EINVAL:
        return QStringLiteral("not a regular file");
    case EAGAIN:
        return QStringLiteral("the file was replaced while it was opened");
    default:
        return qt_error_string(error);
    }
}

QString physicalPath(const QString& path)
{
    const QString absolute
        = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    QStringList rest = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString done; // "" is the root
    bool existing = true;
    int links = 0;
    while (!rest.isEmpty()) {
        const QString part = rest.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            done = done.section(QLatin1Char('/'), 0, -2);
            continue;
        }
        const QString next = done + QLatin1Char('/') + part;
        if (existing && QFileInfo(next).isSymLink()) {
            const QByteArray target = readLinkOf(AT_FDCWD, QFile::encodeName(next).constData());
            if (target.isEmpty() || ++links > kMaxLinks)
                return QString();
            const QString to = QFile::decodeName(target);
            rest = to.split(QLatin1Char('/'), Qt::SkipEmptyParts) + rest;
            if (to.startsWith(QLatin1Char('/')))
                done.clear();
            continue;
        }
        existing = existing && QFileInfo::exists(next);
        done = next;
    }
    return done.isEmpty() ? QStringLiteral("/") : done;
}

void setBeneathResolution(BeneathResolution resolution)
{
    s_resolution = resolution;
}

bool kernelResolvesBeneath()
{
    int known = s_kernelBeneath;
    if (known < 0) {
        const int fd = callOpenat2(AT_FDCWD, ".", O_PATH, 0, RESOLVE_BENEATH);
        known = fd >= 0 ? 1 : 0;
        if (fd >= 0)
            ::close(fd);
        s_kernelBeneath = known;
    }
    return known == 1;
}

} // namespace TaviWebModuleInternal
