#include "SyncRecorder.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QHash>
#include <QtCore/QRegularExpression>
#include <atomic>
#include <cerrno>
#include <climits>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <unistd.h>

namespace {

struct Recording
{
    std::mutex mutex;
    std::atomic<bool> active { false };
    QString folder;
    QStringList events;
    QHash<QString, int> failures;
};

Recording& recording()
{
    static Recording r;
    return r;
}

QString fdPath(int fd)
{
    char buffer[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer);
    return n > 0 ? QFile::decodeName(QByteArray(buffer, int(n))) : QString();
}

QString atPath(int dirfd, const char* path)
{
    const QString name = QFile::decodeName(path);
    if (name.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(name);
    const QString base = dirfd == AT_FDCWD ? QDir::currentPath() : fdPath(dirfd);
    return QDir::cleanPath(base + QLatin1Char('/') + name);
}

// The path as the test writes it, or null when it lies outside the folder.
QString shown(const Recording& r, const QString& path)
{
    if (path != r.folder && !path.startsWith(r.folder + QLatin1Char('/')))
        return QString();
    static const QRegularExpression temporary(
        QStringLiteral("/(\\.tavi-[^/]+|#\\d+ \\(deleted\\))$"));
    return QStringLiteral("{D}")
        + QString(path.mid(r.folder.size())).replace(temporary, "/.tavi-*");
}

// Records the call; true, with errno set, when it is to fail.
bool recordFails(const char* call, const std::function<QString()>& path,
                 const std::function<QString()>& other = {})
{
    Recording& r = recording();
    // The engine's own threads sync all the time: no work for them unless recording.
    if (!r.active)
        return false;
    std::lock_guard<std::mutex> lock(r.mutex);
    const QString a = r.active ? shown(r, path()) : QString();
    if (a.isNull())
        return false;
    QString line = QLatin1String(call) + QLatin1Char(' ') + a;
    if (other)
        line += QLatin1Char(' ') + shown(r, other());
    r.events << line;
    const int error = r.failures.value(QLatin1String(call));
    if (error == 0)
        return false;
    errno = error;
    return true;
}

template<typename F> F real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// Seen by every library of the process, whatever the build's default visibility.
#define TAVI_INTERPOSE extern "C" __attribute__((visibility("default")))

namespace {

int passSync(const char* call, int (*next)(int), int fd)
{
    const int saved = errno;
    if (recordFails(call, [fd] { return fdPath(fd); }))
        return -1;
    errno = saved;
    return next(fd);
}

} // namespace

TAVI_INTERPOSE int fsync(int fd)
{
    static const auto next = real<int (*)(int)>("fsync");
    return passSync("fsync", next, fd);
}

TAVI_INTERPOSE int fdatasync(int fd)
{
    static const auto next = real<int (*)(int)>("fdatasync");
    return passSync("fdatasync", next, fd);
}

// The engine's way to give a finished download its name.
TAVI_INTERPOSE int rename(const char* from, const char* to)
{
    static const auto next = real<int (*)(const char*, const char*)>("rename");
    recordFails(
        "rename", [=] { return atPath(AT_FDCWD, from); }, [=] { return atPath(AT_FDCWD, to); });
    return next(from, to);
}

// The writer's one way to give a file its name.
TAVI_INTERPOSE int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    static const auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
    const auto fromPath = [=] { return atPath(fromDir, from); };
    const auto toPath = [=] { return atPath(toDir, to); };
    recordFails("rename", fromPath, toPath);
    return next(fromDir, from, toDir, to);
}

namespace TestSupport {

SyncRecorder::SyncRecorder(const QString& folder)
{
    Recording& r = recording();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.active = true;
    r.folder = QDir(folder).canonicalPath();
    r.events.clear();
    r.failures.clear();
}

SyncRecorder::~SyncRecorder()
{
    Recording& r = recording();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.active = false;
    r.failures.clear();
}

QStringList SyncRecorder::events() const
{
    Recording& r = recording();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.events;
}

void SyncRecorder::mark(const QString& event)
{
    Recording& r = recording();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.events << event;
}

void SyncRecorder::failCalls(const QString& call, int errorNumber)
{
    Recording& r = recording();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.failures.insert(call, errorNumber);
}

} // namespace TestSupport
