#include "ProcessTree.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QMultiHash>
#include <unistd.h>

namespace Bench {

namespace {

// The fields of /proc/<pid>/stat after the name, which is in parentheses
// and may itself hold spaces or parentheses: [0] is the state, [1] the
// parent's pid, [11] to [14] utime, stime, cutime and cstime.
QList<QByteArray> statFields(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return {};
    return text.mid(close + 2).split(' ');
}

// This process and every process beneath it.
QList<qint64> processTree()
{
    QMultiHash<qint64, qint64> children;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool isPid = false;
        const qint64 id = pid.toLongLong(&isPid);
        if (isPid)
            children.insert(statFields(id).value(1, "-1").toLongLong(), id);
    }
    QList<qint64> tree;
    QList<qint64> pending { QCoreApplication::applicationPid() };
    while (!pending.isEmpty()) {
        const qint64 pid = pending.takeLast();
        tree.append(pid);
        pending.append(children.values(pid));
    }
    return tree;
}

// "Pss:" and "Rss:" of /proc/<pid>/smaps_rollup, in kB.
std::pair<qint64, qint64> pssAndRss(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return { 0, 0 };
    qint64 pss = 0, rss = 0;
    const auto value = [](const QByteArray& line) {
        return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLongLong();
    };
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            pss = value(line);
        else if (line.startsWith("Rss:"))
            rss = value(line);
    }
    return { pss, rss };
}

} // namespace

ProcessTreeMemory processTreeMemory()
{
    ProcessTreeMemory memory;
    for (const qint64 pid : processTree()) {
        const auto [pss, rss] = pssAndRss(pid);
        memory.pssKb += pss;
        memory.rssKb += rss;
        ++memory.processes;
    }
    return memory;
}

int processTreeSize()
{
    return int(processTree().size());
}

double processTreeCpuMs()
{
    const double tick = double(sysconf(_SC_CLK_TCK));
    qint64 ticks = 0;
    for (const qint64 pid : processTree()) {
        const QList<QByteArray> fields = statFields(pid);
        for (int i = 11; i <= 14 && i < fields.size(); ++i)
            ticks += fields.at(i).toLongLong();
    }
    return tick > 0 ? double(ticks) * 1000.0 / tick : 0;
}

} // namespace Bench
