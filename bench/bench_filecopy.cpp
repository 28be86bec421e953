// Copy of a large file through CopyFileFunc against `cp` of the same file
// followed by `sync` of the copy (both on the disk when done), in the same
// run: throughput of both, their ratio, the longest the calling (GUI) thread
// went without serving its events during the copy, and the growth of the
// process's peak memory. Then DelFileFunc of 100,000 files: the longest
// stall against the call's whole length, which is how long the thread was
// held when the deletion ran on it.
//
// Usage: bench_filecopy [size in MiB, default 1024] [scratch folder]

#include "BenchSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <WebComm.h>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
qint64 procStatusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Resets the peak resident size to the current one.
bool resetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

bool writeRandomFile(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(42);
    rng.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
    for (qint64 left = bytes; left > 0; left -= chunk.size()) {
        const qint64 n = std::min<qint64>(left, chunk.size());
        if (f.write(chunk.constData(), n) != n)
            return false;
    }
    return true;
}

constexpr int kRounds = 7;

double mibPerSecond(qint64 bytes, qint64 ns)
{
    return ns > 0 ? (double(bytes) / (1024.0 * 1024.0)) / (double(ns) / 1e9) : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                  : QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    QTemporaryDir scratch(base + QStringLiteral("/bench_filecopy-XXXXXX"));
    if (mib <= 0 || !scratch.isValid()) {
        std::fprintf(stderr, "bad size or no scratch folder under %s\n", qPrintable(base));
        return 2;
    }
    const qint64 bytes = mib * 1024 * 1024;
    const QString source = scratch.filePath(QStringLiteral("source.bin"));
    const QString byCp = scratch.filePath(QStringLiteral("by-cp.bin"));
    const QString byModule = scratch.filePath(QStringLiteral("by-module.bin"));
    std::printf("file: %lld MiB in %s\n", mib, qPrintable(scratch.path()));
    if (!writeRandomFile(source, bytes)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(source));
        return 2;
    }

    const QJsonObject order { { QStringLiteral("sourceFile"), source },
                              { QStringLiteral("targetFile"), byModule } };
    const QString command = QString::fromUtf8(QJsonDocument(QJsonArray { order }).toJson());
    Bench::quietDebugOutput(); // the module's command line per call
    CWebComm bridge;

    // Alternate the two, the median of kRounds each, so that both meet the same
    // page-cache state.
    std::vector<double> cpNsAll, moduleNsAll;
    qint64 peakGrowthKiB = 0;
    double longestStall = 0;
    Bench::StallProbe probe;
    for (int round = 0; round < kRounds; ++round) {
        QFile::remove(byCp);
        QFile::remove(byModule);
        // Neither copy pays for writing back the other's.
        ::sync();

        QElapsedTimer t;
        t.start();
        // A copy counts once it is on the disk: cp, then sync of that file.
        if (QProcess::execute(QStringLiteral("sh"),
                              { QStringLiteral("-c"),
                                QStringLiteral("cp -- \"$1\" \"$2\" && sync -- \"$2\""),
                                QStringLiteral("sh"), source, byCp })
            != 0) {
            std::fprintf(stderr, "cp && sync failed\n");
            return 2;
        }
        const qint64 cpNs = t.nsecsElapsed();

        ::sync();
        const qint64 rssBefore = procStatusKiB("VmRSS");
        const bool peakReset = resetPeakRss();
        probe.start();
        t.restart();
        bridge.CopyFileFunc(command);
        const qint64 moduleNs = t.nsecsElapsed();
        longestStall = std::max(longestStall, probe.stop());
        const qint64 peak = procStatusKiB("VmHWM");
        if (QFileInfo(byModule).size() != bytes) {
            std::fprintf(stderr, "the module's copy is incomplete\n");
            return 2;
        }
        if (peakReset)
            peakGrowthKiB = std::max(peakGrowthKiB, peak - rssBefore);

        cpNsAll.push_back(double(cpNs));
        moduleNsAll.push_back(double(moduleNs));
        std::printf("round %d: cp && sync %.0f MiB/s, CopyFileFunc %.0f MiB/s\n", round + 1,
                    mibPerSecond(bytes, cpNs), mibPerSecond(bytes, moduleNs));
    }

    const double cpRate = mibPerSecond(bytes, qint64(Bench::median(cpNsAll)));
    const double moduleRate = mibPerSecond(bytes, qint64(Bench::median(moduleNsAll)));
    std::printf("baseline   cp && sync:   %8.0f MiB/s (median of %d)\n", cpRate, kRounds);
    std::printf("figure     CopyFileFunc: %8.0f MiB/s (median of %d)\n", moduleRate, kRounds);
    const double ratio = cpRate > 0 ? moduleRate / cpRate : 0.0;
    std::printf("ratio      %.2f (goal >= 0.90)\n", ratio);
    std::printf("longest GUI stall during CopyFileFunc: %.2f ms (goal <= 50)\n", longestStall);
    std::printf(
        "peak memory growth during CopyFileFunc: %.1f MiB (goal < 64 MiB; file %lld MiB)\n\n",
        double(peakGrowthKiB) / 1024.0, mib);

    // 100,000 small files to delete in one call.
    const QString folder = scratch.filePath(QStringLiteral("many"));
    QDir().mkpath(folder);
    QJsonArray paths;
    for (int i = 0; i < 100000; ++i) {
        const QString path = folder + QStringLiteral("/file-%1.jpg").arg(i);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 2;
        }
        paths.append(path);
    }
    const QString deletion = QString::fromUtf8(QJsonDocument(paths).toJson(QJsonDocument::Compact));
    probe.start();
    QElapsedTimer t;
    t.start();
    bridge.DelFileFunc(deletion);
    const double deleteMs = double(t.nsecsElapsed()) / 1e6;
    const double deleteStall = probe.stop();
    if (!QDir(folder).isEmpty()) {
        std::fprintf(stderr, "DelFileFunc left files behind\n");
        return 2;
    }
    Bench::printResult("DelFileFunc of 100,000 files: longest GUI stall", deleteStall,
                       "the call's whole length", deleteMs, "ms", "stall <= 50 ms");

    return Bench::goalLine(
        ">= 0.9x cp && sync, GUI stalls <= 50 ms during the copy and the deletion",
        ratio >= 0.9 && longestStall <= 50 && deleteStall <= 50);
}
