#include "FileWriter.h"

#include "DurableSync.h"

#include <QtCore/QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TaviWebModuleInternal {

namespace {

// Bounded steps, so that a huge file never holds the kernel in one call and
// a stop takes effect soon, even on slow media.
constexpr size_t kKernelCopyChunk = 16 * 1024 * 1024;

QByteArray tempName()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name(".tavi-XXXXXX");
    for (qsizetype i = 6; i < name.size(); ++i)
        name[i] = kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))];
    return name;
}

} // namespace

ReplacingFile::ReplacingFile(const QString& target)
    : m_target(target.isEmpty() ? RootedName()
                                : rootedName(target, FileRoots(), RootAccess::Write, false, true))
{}

ReplacingFile::ReplacingFile(RootedName target)
    : m_target(std::move(target))
{}

ReplacingFile::~ReplacingFile()
{
    m_temp.close();
    if (!m_tempName.isEmpty())
        ::unlinkat(m_target.dir.get(), m_tempName.constData(), 0);
}

bool ReplacingFile::open()
{
    if (!m_target.valid()) {
        m_error
            = m_target.error ? rootedErrorText(m_target.error) : QStringLiteral("no target path");
        return false;
    }
    const int dir = m_target.dir.get();
    const char* name = m_target.name.constData();
    // Replacing a device, a pipe or a socket by a regular file would break
    // whatever uses it; only a regular file or nothing may stand there.
    struct stat st = {};
    if (::fstatat(dir, name, &st, 0) == 0 && !S_ISREG(st.st_mode)) {
        m_error = S_ISDIR(st.st_mode) ? QStringLiteral("the target is a folder")
                                      : QStringLiteral("the target is not a regular file");
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temp = tempName();
        const int fd = ::openat(dir, temp.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            m_error = qt_error_string(errno);
            return false;
        }
        m_tempName = temp;
        if (!m_temp.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return false;
        }
        return true;
    }
    m_error = qt_error_string(EEXIST);
    return false;
}

bool ReplacingFile::commit()
{
    if (m_tempName.isEmpty())
        return false;
    const int dir = m_target.dir.get();
    struct stat st = {};
    const mode_t mode = ::fstatat(dir, m_target.name.constData(), &st, 0) == 0
        ? (st.st_mode & 07777)
        : (m_newMode == kDefaultMode ? (0666 & ~processUmask()) : m_newMode);
    if (!m_temp.flush())
        return false;
    // The temporary file is private (0600) until now.
    if (::fchmod(m_temp.handle(), mode) != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    // Written means on the disk: the data before it takes the target's name.
    if (!syncFile(m_temp.handle(), &m_error))
        return false;
    m_temp.close();
    if (m_temp.error() != QFileDevice::NoError)
        return false;
    if (::renameat(dir, m_tempName.constData(), dir, m_target.name.constData()) != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_tempName.clear();
    // ... and the new name in its folder after it.
    return syncDirectory(dir, &m_error);
}

QString ReplacingFile::errorString() const
{
    return m_error.isEmpty() ? m_temp.errorString() : m_error;
}

qint64 kernelCopy(QFile& in, QFile& out, const std::atomic<bool>* stop,
                  const std::function<void(qint64 done, qint64 total)>& progress)
{
    // Only the data is copied: holes of a sparse file stay holes, as with cp.
    const int from = in.handle();
    const int to = out.handle();
    const off_t size = ::lseek(from, 0, SEEK_END);
    off_t done = 0; // the target is a faithful copy up to here
    const auto stopped = [stop] { return stop && *stop; };
    while (done < size && !stopped()) {
        off_t data = ::lseek(from, done, SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO)
                break; // no SEEK_DATA here: the caller's loop copies the rest
            data = size; // only a hole is left
        }
        const off_t hole = data < size ? ::lseek(from, data, SEEK_HOLE) : size;
        if (hole < 0)
            break;
        off_t inPos = data;
        off_t outPos = data;
        while (inPos < hole && !stopped()) {
            const ssize_t n
                = ::copy_file_range(from, &inPos, to, &outPos,
                                    std::min<size_t>(size_t(hole - inPos), kKernelCopyChunk), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (progress)
                progress(inPos, size);
        }
        if (inPos < hole) {
            done = inPos; // the kernel could not go on: the caller's loop will
            break;
        }
        done = hole;
    }
    // A source cut meanwhile shows no more data, which must not pass for a
    // hole: the copy is then only as long as what is left of the source.
    done = std::min<off_t>(done, ::lseek(from, 0, SEEK_END));
    // A hole at the end makes the target's length without writing.
    if (done == size && ::ftruncate(to, size) != 0)
        done = 0;
    // The files' own positions follow.
    in.seek(done);
    out.seek(done);
    return done;
}

bool isSameFile(const QString& a, const QString& b)
{
    struct stat sa = {};
    struct stat sb = {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0
        || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool withinPathLimits(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= PATH_MAX)
        return false;
    qsizetype nameStart = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes.at(i) == '/') {
            if (i - nameStart > NAME_MAX)
                return false;
            nameStart = i + 1;
        }
    }
    return true;
}

mode_t processUmask()
{
    // Read, not set and restored: other threads of the process create files.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

} // namespace TaviWebModuleInternal
