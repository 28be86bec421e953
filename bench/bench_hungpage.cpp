// Pages that stop answering:
// - sustained: a page whose script loops while a host thread pushes 2,000
//   device-state changes a second (one channel of a site of 1,000 devices
//   each) for 5 minutes (--seconds for a shorter run): the host's memory
//   growth, the longest the GUI thread stands still (the lateness of a 1 ms
//   timer), and how long after the loop ends the page's device state is the
//   host's again, once after the long run and after each of 7 hangs of 6 s;
//   against the same run with the push budget effectively unlimited, which
//   holds every push as the module did before it had a budget;
// - the 10,000-device full status (16 channels each, as GetDevStatus gives
//   it) pushed from a host thread into a live page and into a hung one: the
//   longest GUI stall of each push, against the same text handed straight
//   to runJavaScript.
// Each part runs in a process of its own, so that none inherits another's
// heap.

#include "BenchSupport.h"
#include "TestSupport.h"

#include <DeviceStatusJson.h>
#include <JsScript.h>
#include <QtCore/QCommandLineParser>
#include <QtCore/QDateTime>
#include <QtCore/QEventLoop>
#include <QtCore/QProcess>
#include <QtWidgets/QApplication>
#include <TaviSim.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kSiteDevices = 1000;
constexpr int kPushesPerSecond = 2000;
constexpr int kCycles = 7;
constexpr int kCycleHangMs = 6000;
constexpr int kStatusDevices = 10000;
constexpr int kStatusRounds = 9;
const QUrl kPage(QStringLiteral("qrc:/bench/hung.html"));

using Clock = std::chrono::steady_clock;

qint64 epochMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The host's device state as the page's digest() sums it up.
QString hostDigest()
{
    std::uint32_t sum = 0;
    int count = 0;
    for (const auto& [id, channels] : TaviSim::deviceStatus()) {
        for (const auto& [channel, status] : channels) {
            const std::string entry
                = id + '/' + std::to_string(channel) + '=' + std::to_string(status);
            std::uint32_t hash = 2166136261u;
            for (const unsigned char c : entry)
                hash = (hash ^ c) * 16777619u;
            sum += hash;
            ++count;
        }
    }
    return QStringLiteral("%1:%2").arg(count).arg(sum);
}

// A host thread that changes one channel at a time, in the host's state
// first, then pushes the change, kPushesPerSecond a second.
class Pusher
{
public:
    void start(int ms, unsigned seed)
    {
        m_done = false;
        m_thread = std::thread([this, ms, seed] {
            std::mt19937 random(seed);
            const Clock::time_point begin = Clock::now();
            const auto end = begin + std::chrono::milliseconds(ms);
            for (qint64 i = 0;; ++i) {
                const auto due = begin + std::chrono::microseconds(i * 1000000 / kPushesPerSecond);
                if (due >= end)
                    break;
                std::this_thread::sleep_until(due);
                const std::string id = "dev-" + std::to_string(100000 + random() % kSiteDevices);
                const int channel = 1 + int(random() % 16);
                const int status = int(random() % 3);
                TaviSim::setChannelStatus(id, channel, status);
                DeviceStatusMap change { { id, { { channel, status } } } };
                WebViewDataCenter::GetInstance()->DevStatusUpdate(change);
                ++m_pushed;
            }
            m_done = true;
        });
    }
    // Serves the GUI thread's events until the thread is done.
    void finish()
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (m_done)
                loop.quit();
        });
        poll.start(10);
        if (!m_done)
            loop.exec();
        m_thread.join();
    }
    qint64 pushed() const { return m_pushed; }

private:
    std::thread m_thread;
    std::atomic<bool> m_done { true };
    std::atomic<qint64> m_pushed { 0 };
};

// Milliseconds from epoch ms since until the page's device state is the
// host's; -1 when it is not within timeoutMs.
double untilEqual(QWebEnginePage* page, qint64 since, int timeoutMs = 600000)
{
    const QString expected = hostDigest();
    while (epochMs() - since < timeoutMs) {
        if (TestSupport::evalJs(page, QStringLiteral("digest()"), timeoutMs).toString() == expected)
            return double(epochMs() - since);
        QTest::qWait(5);
    }
    return -1;
}

void hangUntil(QWebEnginePage* page, qint64 epoch)
{
    if (!TestSupport::evalJs(page, QStringLiteral("hangUntil(%1)").arg(epoch)).toBool())
        qFatal("the page did not start its loop");
}

QString numbers(const std::vector<double>& values)
{
    QStringList texts;
    for (const double v : values)
        texts << QString::number(v, 'f', 3);
    return texts.join(QLatin1Char(' '));
}

void put(const char* key, const std::vector<double>& values)
{
    std::printf("%s %s\n", key, qPrintable(numbers(values)));
    std::fflush(stdout);
}

struct Host
{
    QWidget parent;
    VmsWebWidgets web { &parent };
    QWebEnginePage* page = nullptr;

    explicit Host(const DeviceStatusMap& site)
    {
        TaviSim::installClientSdk();
        TaviSim::setDeviceStatus(site);
        // Shown: the module judges only a page that is on screen.
        parent.resize(800, 600);
        web.setFixedSize(800, 600);
        parent.show();
        if (!TestSupport::loadPage(web, kPage, 60000))
            qFatal("the page did not load");
        page = TestSupport::pageOf(web);
        if (!TestSupport::waitForJs(page, QStringLiteral("window.bridgeReady === true"), 60000))
            qFatal("the page did not pull the device status");
    }
};

// ---- Sustained ------------------------------------------------------------------

int sustained(bool budget, int seconds)
{
    Host host(Bench::deviceStatus(kSiteDevices));
    if (!budget)
        host.web.setPushBudget(qint64(1) << 50);
    Pusher pusher;
    if (untilEqual(host.page, epochMs(), 60000) < 0)
        qFatal("the page's state is not the host's");
    pusher.start(2000, 1); // warm-up, into the page while it answers
    pusher.finish();
    if (untilEqual(host.page, epochMs(), 60000) < 0)
        qFatal("the page's state is not the host's after the warm-up");

    QElapsedTimer answered;
    QObject::connect(&host.web, &VmsWebWidgets::pageResponsive, [&answered] { answered.start(); });

    // The page loops from now until a second after the pushes end.
    const qint64 hangEnd = epochMs() + 1000 + qint64(seconds) * 1000 + 1000;
    hangUntil(host.page, hangEnd);
    QTest::qWait(1000);
    malloc_trim(0);
    const qint64 startKb = Bench::residentKb();
    std::vector<double> growthMb;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { growthMb.push_back(double(Bench::residentKb() - startKb) / 1024); });
    sampler.start(1000);
    Bench::StallProbe probe;
    probe.start();
    const qint64 pushedBefore = pusher.pushed();
    const qint64 pushStart = epochMs();
    pusher.start(seconds * 1000, 2);
    pusher.finish();
    const double pushSeconds = double(epochMs() - pushStart) / 1000;
    const double longest = probe.stop();
    sampler.stop();
    growthMb.push_back(double(Bench::residentKb() - startKb) / 1024);
    const QJsonObject health = host.web.health();
    malloc_trim(0);
    const double trimmedMb = double(Bench::residentKb() - startKb) / 1024;
    const double recovery = untilEqual(host.page, hangEnd);
    std::printf("rate %.1f\n", double(pusher.pushed() - pushedBefore) / pushSeconds);
    std::printf("health %s\n", QJsonDocument(health).toJson(QJsonDocument::Compact).constData());
    put("growth", growthMb);
    put("trimmed", { trimmedMb });
    put("stalls", probe.windows());
    put("longest", { longest });
    put("recovery", { recovery });
    put("answered", { answered.isValid() ? double(answered.elapsed()) : -1 });

    // Short hangs, for the spread of the time back.
    std::vector<double> cycles;
    for (int i = 0; i < kCycles; ++i) {
        QTest::qWait(500);
        const qint64 end = epochMs() + kCycleHangMs;
        hangUntil(host.page, end);
        QTest::qWait(200);
        pusher.start(kCycleHangMs - 1000, 10 + unsigned(i));
        pusher.finish();
        cycles.push_back(untilEqual(host.page, end));
    }
    put("cycles", cycles);
    return 0;
}

// ---- The 10,000-device status ----------------------------------------------------

// Waits until the page's title is title; false after a minute.
bool titled(QWebEnginePage* page, const QString& title)
{
    if (page->title() == title)
        return true;
    QEventLoop loop;
    const auto connection
        = QObject::connect(page, &QWebEnginePage::titleChanged, &loop, [&](const QString& now) {
              if (now == title)
                  loop.quit();
          });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return page->title() == title;
}

int status()
{
    DeviceStatusMap site = Bench::deviceStatus(kStatusDevices);
    Host host(site);
    const QString script = TaviWebModuleInternal::jsCall(
        QLatin1String("emitDevStatus"), { TaviWebModuleInternal::deviceStatusJson(site) }, true);
    int statuses = 0;
    // One push and the longest stall until the page has it (hung: within
    // 1.5 s, while the page loops).
    const auto measure = [&](bool viaModule, bool hung) {
        Bench::StallProbe probe;
        probe.start();
        std::thread hostThread;
        if (viaModule)
            hostThread
                = std::thread([&site] { WebViewDataCenter::GetInstance()->DevStatusUpdate(site); });
        else
            host.page->runJavaScript(script);
        if (hung)
            QTest::qWait(1500);
        else if (!titled(host.page, QStringLiteral("status %1").arg(++statuses)))
            qFatal("the status did not reach the page");
        if (hostThread.joinable())
            hostThread.join();
        return probe.stop();
    };
    std::vector<double> module, bare, moduleHung, bareHung;
    measure(true, false); // warm-up
    measure(false, false);
    for (int round = 0; round < kStatusRounds; ++round) {
        module.push_back(measure(true, false));
        bare.push_back(measure(false, false));
    }
    // Hung for good, with a push unanswered for a while: the budget holds.
    hangUntil(host.page, epochMs() + 600000);
    QTest::qWait(200);
    host.web.InfoNotifySlot(QStringLiteral("unanswered"));
    QTest::qWait(1200);
    for (int round = 0; round < kStatusRounds; ++round) {
        moduleHung.push_back(measure(true, true));
        bareHung.push_back(measure(false, true));
    }
    put("live", module);
    put("liveBare", bare);
    put("hung", moduleHung);
    put("hungBare", bareHung);
    put("statusChars", { double(script.size()) });
    return 0;
}

// ---- The parent: runs each part in a child and prints ------------------------------

using Figures = std::map<std::string, std::vector<double>>;

Figures inChild(const QStringList& args, QByteArray* health = nullptr)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        qFatal("the part %s failed", qPrintable(args.join(QLatin1Char(' '))));
    Figures figures;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.first() == "health") {
            if (health)
                *health = line.mid(7).trimmed();
            continue;
        }
        std::vector<double>& values = figures[words.first().toStdString()];
        for (qsizetype i = 1; i < words.size(); ++i)
            values.push_back(words.at(i).toDouble());
    }
    return figures;
}

double first(const Figures& figures, const char* key)
{
    const auto it = figures.find(key);
    return it == figures.end() || it->second.empty() ? -1 : it->second.front();
}

std::vector<double> series(const Figures& figures, const char* key)
{
    const auto it = figures.find(key);
    return it == figures.end() ? std::vector<double>() : it->second;
}

void printSpread(const char* label, const std::vector<double>& values, const char* unit)
{
    const std::pair<double, double> interval = Bench::medianInterval(values);
    std::printf("%-48s %12.2f %s  (95%% interval %.2f - %.2f, largest %.2f, n = %zu)\n", label,
                Bench::median(values), unit, interval.first, interval.second,
                Bench::percentile(values, 100), values.size());
}

double ratioOf(double value, double base)
{
    return base != 0 ? value / base : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (qstrcmp(argv[1], "sustained") == 0 || qstrcmp(argv[1], "status") == 0)) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        Bench::quietDebugOutput();
        if (qstrcmp(argv[1], "status") == 0)
            return status();
        return sustained(argc > 2 && qstrcmp(argv[2], "budget") == 0,
                         argc > 3 ? atoi(argv[3]) : 300);
    }
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Pages that stop answering: memory, GUI "
                                                    "stalls and the way back, against holding "
                                                    "every push."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"),
        QStringLiteral("How long the page stays hung under the pushes (default 300)."),
        QStringLiteral("s"), QStringLiteral("300"));
    parser.addOption(secondsOption);
    parser.process(app);
    const int seconds = qMax(5, parser.value(secondsOption).toInt());

    // A shared machine's load shows in every stall: say what it was.
    const auto load = [] {
        QFile file(QStringLiteral("/proc/loadavg"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("?");
    };
    std::printf("load average at the start: %s\n\n", load().constData());
    const Figures status = inChild({ QStringLiteral("status") });
    std::printf("The 10,000-device status (16 channels each, as GetDevStatus gives it, %.1f M\n"
                "characters of script), pushed from a host thread: the longest GUI stall of\n"
                "each push, %d rounds\n\n",
                first(status, "statusChars") / 1e6, kStatusRounds);
    std::map<std::string, double> largest; // the module's, per kind of page
    for (const std::string kind : { "live", "hung" }) {
        const auto name = [&kind](const char* what) { return kind + " page, " + what + " (ms)"; };
        const auto module = series(status, kind.c_str());
        const auto bare = series(status, (kind + "Bare").c_str());
        printSpread(name("module").c_str(), module, "ms");
        printSpread(name("bare runJavaScript").c_str(), bare, "ms");
        largest[kind] = Bench::percentile(module, 100);
        Bench::printPairedResult(("longest stall, " + name("module")).c_str(), module,
                                 ("longest stall, " + name("bare runJavaScript")).c_str(), bare,
                                 "ms", "module's largest <= 50 ms");
    }
    const double live = largest["live"];
    const double hung = largest["hung"];

    std::printf("A hung page under %d device-state pushes a second for %d s, from a host "
                "thread;\nbaseline: the same with the push budget effectively unlimited\n\n",
                kPushesPerSecond, seconds);
    QByteArray healthBudget, healthUnbounded;
    const QString time = QString::number(seconds);
    const Figures withBudget
        = inChild({ QStringLiteral("sustained"), QStringLiteral("budget"), time }, &healthBudget);
    const Figures unbounded = inChild(
        { QStringLiteral("sustained"), QStringLiteral("unbounded"), time }, &healthUnbounded);
    std::printf("%-48s %12.0f /s (unbounded %.0f /s)\n\n", "pushes achieved, budget",
                first(withBudget, "rate"), first(unbounded, "rate"));

    const std::vector<double> growth = series(withBudget, "growth");
    const std::vector<double> growthBase = series(unbounded, "growth");
    const double largestGrowth = Bench::percentile(growth, 100);
    Bench::printRows("host memory growth, largest, budget (MB)", largestGrowth,
                     "host memory growth, largest, unbounded (MB)",
                     Bench::percentile(growthBase, 100), "MB", "ratio",
                     ratioOf(largestGrowth, Bench::percentile(growthBase, 100)), "budget <= 5 MB");
    const auto lastHalfMinute = [](std::vector<double> v) {
        if (v.size() > 30)
            v.erase(v.begin(), v.end() - 30);
        return v;
    };
    printSpread("  growth over the last 30 s, budget (MB)", lastHalfMinute(growth), "MB");
    printSpread("  growth over the last 30 s, unbounded (MB)", lastHalfMinute(growthBase), "MB");
    std::printf("%-48s %12.2f MB (unbounded %.2f MB)\n\n", "  after malloc_trim, budget",
                first(withBudget, "trimmed"), first(unbounded, "trimmed"));

    const double longest = first(withBudget, "longest");
    Bench::printRows("longest GUI stall, budget (ms)", longest, "longest GUI stall, unbounded (ms)",
                     first(unbounded, "longest"), "ms", "ratio",
                     ratioOf(longest, first(unbounded, "longest")), "budget <= 50 ms");
    printSpread("  longest stall of each second, budget (ms)", series(withBudget, "stalls"), "ms");
    printSpread("  longest stall of each second, unbounded (ms)", series(unbounded, "stalls"),
                "ms");
    std::printf("\n");

    const double recovery = first(withBudget, "recovery");
    Bench::printRows("state equal again after the loop, budget (ms)", recovery,
                     "state equal again after the loop, unbounded (ms)",
                     first(unbounded, "recovery"), "ms", "ratio",
                     ratioOf(recovery, first(unbounded, "recovery")), "reached; no bound set");
    std::printf("%-48s %12.0f ms (unbounded %.0f ms)\n\n", "  pageResponsive, then equal, budget",
                first(withBudget, "answered"), first(unbounded, "answered"));
    Bench::printPairedResult("state equal again after a 6 s hang, budget (ms)",
                             series(withBudget, "cycles"),
                             "state equal again after a 6 s hang, unbounded (ms)",
                             series(unbounded, "cycles"), "ms", "reached; no bound set");
    printSpread("  after a 6 s hang, budget (ms)", series(withBudget, "cycles"), "ms");
    printSpread("  after a 6 s hang, unbounded (ms)", series(unbounded, "cycles"), "ms");
    std::printf("\nhealth at the end of the pushes, budget:    %s\n", healthBudget.constData());
    std::printf("health at the end of the pushes, unbounded: %s\n\n", healthUnbounded.constData());

    std::printf("load average at the end: %s\n\n", load().constData());
    const std::vector<double> cycleTimes = series(withBudget, "cycles");
    const bool reached = recovery >= 0
        && std::none_of(cycleTimes.begin(), cycleTimes.end(), [](double v) { return v < 0; });
    const bool met = live <= 50 && hung <= 50 && largestGrowth <= 5 && longest <= 50 && reached;
    return Bench::goalLine("host memory growth <= 5 MB, GUI stalls <= 50 ms (sustained, and the "
                           "10,000-device status into a live and a hung page), device state "
                           "equal again",
                           met);
}
