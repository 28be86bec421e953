#include "FileWriter.h"

#include <QtCore/QFileInfo>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace TaviWebModuleInternal {

namespace {

// Bounded steps, so that a huge file never holds the kernel in one call.
constexpr size_t kKernelCopyChunk = 64 * 1024 * 1024;

QString resolvedTarget(const QString& target)
{
    const QFileInfo info(target);
    if (!info.isSymLink())
        return target;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

} // namespace

ReplacingFile::ReplacingFile(const QString& target)
    : m_final(resolvedTarget(target))
    , m_temp(QFileInfo(m_final).path() + QStringLiteral("/.tavi-XXXXXX"))
    , m_newMode(kDefaultMode)
{ }

bool ReplacingFile::open()
{
    if (m_final.isEmpty()) {
        m_error = QStringLiteral("no target path");
        return false;
    }
    if (QFileInfo(m_final).isDir()) {
        m_error = QStringLiteral("the target is a folder");
        return false;
    }
    return m_temp.open();
}

bool ReplacingFile::commit()
{
    struct stat st = {};
    const mode_t mode = ::stat(QFile::encodeName(m_final).constData(), &st) == 0
        ? (st.st_mode & 07777)
        : (m_newMode == kDefaultMode ? (0666 & ~processUmask()) : m_newMode);
    if (!m_temp.flush())
        return false;
    // The temporary file is private (0600) until now.
    if (::fchmod(m_temp.handle(), mode) != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_temp.close();
    if (m_temp.error() != QFileDevice::NoError)
        return false;
    if (::rename(QFile::encodeName(m_temp.fileName()).constData(),
                 QFile::encodeName(m_final).constData())
        != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_temp.setAutoRemove(false);
    return true;
}

QString ReplacingFile::errorString() const
{
    return m_error.isEmpty() ? m_temp.errorString() : m_error;
}

qint64 kernelCopy(QFile& in, QFile& out)
{
    qint64 copied = 0;
    for (;;) {
        const ssize_t n
            = ::copy_file_range(in.handle(), nullptr, out.handle(), nullptr, kKernelCopyChunk, 0);
        if (n > 0)
            copied += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // the end, or an error the caller's own loop will meet and name
    }
    // The files' own positions follow the descriptors.
    in.seek(copied);
    out.seek(copied);
    return copied;
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
