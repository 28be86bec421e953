// Snapshot of a 50 MB image handed over as a data URL through AfterSnapshot,
// against a bare base64 decode and file write of the same data in the same
// run; and the longest the calling (GUI) thread went without serving its
// events during the call.
//
// Usage: bench_snapshot [image size in MB, default 50] [scratch folder]

#include "BenchSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRandomGenerator>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <WebComm.h>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 50;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                  : QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    QTemporaryDir scratch(base + QStringLiteral("/bench_snapshot-XXXXXX"));
    if (mb <= 0 || !scratch.isValid()) {
        std::fprintf(stderr, "bad size or no scratch folder under %s\n", qPrintable(base));
        return 2;
    }

    QByteArray image(int(mb * 1000 * 1000), Qt::Uninitialized);
    QRandomGenerator rng(7);
    rng.fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
    // What the page hands over: a data URL, as a string from the web channel.
    const QString dataUrl
        = QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(image.toBase64());
    const QString byModule = scratch.filePath(QStringLiteral("snap/by-module.jpg"));
    const QString bare = scratch.filePath(QStringLiteral("snap/bare.jpg"));
    std::printf("image: %lld MB, data URL of %lld characters\n", mb, qint64(dataUrl.size()));

    Bench::quietDebugOutput(); // the module's two progress lines per call
    CWebComm bridge;
    std::vector<double> moduleNs, bareNs;
    double longestStall = 0;
    Bench::StallProbe probe;
    for (int round = 0; round < 11; ++round) {
        QElapsedTimer t;
        probe.start();
        t.start();
        const int rc = bridge.AfterSnapshot(dataUrl, QStringLiteral("ch-1"), 1700000000, byModule);
        moduleNs.push_back(double(t.nsecsElapsed()));
        longestStall = std::max(longestStall, probe.stop());
        if (rc != 0) {
            std::fprintf(stderr, "AfterSnapshot failed\n");
            return 2;
        }

        // The least any implementation must do with the same string.
        t.restart();
        const qsizetype at = dataUrl.indexOf(QLatin1String("base64,"));
        const QByteArray decoded
            = QByteArray::fromBase64(QStringView(dataUrl).mid(at + 7).toLatin1());
        QFile f(bare);
        if (!f.open(QIODevice::WriteOnly) || f.write(decoded) != decoded.size()) {
            std::fprintf(stderr, "bare write failed\n");
            return 2;
        }
        f.close();
        bareNs.push_back(double(t.nsecsElapsed()));
    }
    QFile check(byModule);
    if (!check.open(QIODevice::ReadOnly) || check.readAll() != image) {
        std::fprintf(stderr, "the module's file differs from the image\n");
        return 2;
    }

    const double moduleMs = Bench::median(moduleNs) / 1e6;
    const double bareMs = Bench::median(bareNs) / 1e6;
    std::printf("baseline   bare decode + write: %7.2f ms (median of %zu)\n", bareMs,
                bareNs.size());
    std::printf("figure     AfterSnapshot:       %7.2f ms (median of %zu)\n", moduleMs,
                moduleNs.size());
    const double ratio = moduleMs > 0 ? bareMs / moduleMs : 0.0;
    std::printf("ratio      %.2f (throughput of AfterSnapshot / baseline; goal >= 0.90)\n", ratio);
    std::printf("longest GUI stall during AfterSnapshot: %.2f ms (goal <= 50; the bare decode "
                "and write held it %.2f ms)\n",
                longestStall, bareMs);
    return Bench::goalLine(">= 0.9x the bare decode and write, GUI stalls <= 50 ms",
                           ratio >= 0.9 && longestStall <= 50);
}
