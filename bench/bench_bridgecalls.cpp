// Bridge call throughput: pipelined RequestToVmsServer calls from a page
// against a client SDK that answers at once, against an echo slot of a bare
// object on its own channel; and the round trip of single calls, one after
// the other, against the same echo.
//
// What this benchmark showed on the way of every page call, and what the
// module does since:
// - Through QWebChannel's generic call (each argument and the result
//   through a QVariant and a conversion, the message read again) the
//   module's calls per second stayed under the goal. ChannelRelay makes the
//   calls of plain types itself; so made, a call costs the GUI thread a
//   quarter fewer instructions than the bare channel's echo.
// - The page's texts as UTF-8 through QString::toUtf8(): three heap blocks
//   a call, which showed in the call rate. CWebComm writes them on the
//   stack (Utf8Text).
// - The request line through the debug stream was many times slower than
//   built by hand (RequestLine). Its loops do not branch on the bytes:
//   between the engine's work the branch predictor keeps nothing of the
//   text, and a JSON text's quotes then cost a misprediction each. Qt 6.4
//   reallocates on a reserve() of the capacity the buffer already has,
//   which a run of like calls did on each call: the buffer is reserved
//   only when short.

#include "BenchSupport.h"
#include "TestSupport.h"

#include <ClientSdk.h>
#include <QtWebChannel/QWebChannel>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <TaviLogic.h>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <memory>
#include <vector>

namespace {

constexpr int kCalls = 5000;
constexpr int kRounds = 41;
constexpr int kSingleCalls = 200;
constexpr int kSingleBlocks = 10;

class InstantRequestSdk : public IRequestSdk
{
public:
    int SendServerRequest(int, const char*, const char*, char*) override { return 0; }
    int SendServerRequestSync(int, const char*, char*, int, std::string& result) override
    {
        result = "{}";
        return 0;
    }
    int CancelServerRequest(const char*) override { return 0; }
    int QueryDevSessionId(const char*, std::string& sessionId) override
    {
        sessionId = "s";
        return 0;
    }
};

class InstantClientSdk : public IClientSdk
{
public:
    IStreamSdk* GetStreamSdk() override { return nullptr; }
    IRequestSdk* GetRequestSdk() override { return &m_request; }
    int GetVersion() override { return 1; }

private:
    InstantRequestSdk m_request;
};

} // namespace

// Same signature as the bridge method, doing nothing.
class Echo : public QObject
{
    Q_OBJECT
public slots:
    int echo(int cmd, QString msg, QString sn, QString devid)
    {
        Q_UNUSED(msg);
        Q_UNUSED(sn);
        Q_UNUSED(devid);
        return cmd;
    }
};

namespace {

// Calls per second, measured inside the page. guiUs: the GUI thread's
// processor time per call meanwhile, in microseconds.
double run(QWebEnginePage* page, const char* method, double* guiUs = nullptr)
{
    using namespace TestSupport;
    const double cpuStart = Bench::threadCpuMs();
    evalJs(page, QStringLiteral("window.run('%1', %2)").arg(QLatin1String(method)).arg(kCalls));
    if (!waitForJs(page, QStringLiteral("window.elapsed !== undefined"), 120000))
        return 0;
    if (guiUs)
        *guiUs = (Bench::threadCpuMs() - cpuStart) * 1000.0 / kCalls;
    const double ms = evalJs(page, QStringLiteral("window.elapsed")).toDouble();
    return ms > 0 ? kCalls / (ms / 1000.0) : 0;
}

// Round trips of single calls, one after the other, in milliseconds.
std::vector<double> roundTrips(QWebEnginePage* page, const char* method, int count)
{
    using namespace TestSupport;
    evalJs(page, QStringLiteral("window.single('%1', %2)").arg(QLatin1String(method)).arg(count));
    if (!waitForJs(page, QStringLiteral("window.latencies !== undefined"), 120000))
        return {};
    std::vector<double> times;
    for (const QVariant& v : evalJs(page, QStringLiteral("window.latencies")).toList())
        times.push_back(v.toDouble());
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    Bench::quietDebugOutput();

    InstantClientSdk sdk;
    TaviLogic::m_ClientSdk = &sdk;

    QWidget parent;
    VmsWebWidgets widget(&parent);
    QWebEnginePage* modulePage = widget.view()->page();
    widget.OpenUrl(QStringLiteral("qrc:/bench/calls.html"));

    QWebEnginePage barePage;
    QWebChannel bareChannel;
    Echo echo;
    bareChannel.registerObject(QStringLiteral("Echo"), &echo);
    barePage.setWebChannel(&bareChannel);
    barePage.load(QUrl(QStringLiteral("qrc:/bench/calls.html")));

    if (!TestSupport::waitForJs(modulePage, QStringLiteral("window.ready"), 120000)
        || !TestSupport::waitForJs(&barePage, QStringLiteral("window.ready"), 120000)) {
        std::fprintf(stderr, "pages did not load\n");
        return 1;
    }

    std::printf("Bridge call throughput: %d pipelined calls from a page, median of %d\n\n", kCalls,
                kRounds);
    // A warm-up round each, then alternate, each going first in every other
    // round: rounds of one run differ by a third, so few of them let the
    // ratio move by a tenth between runs.
    run(modulePage, "RequestToVmsServer");
    run(&barePage, "echo");
    std::vector<double> module, bare, moduleGui, bareGui;
    const auto bareRound = [&] {
        bareGui.emplace_back();
        bare.push_back(run(&barePage, "echo", &bareGui.back()));
    };
    for (int round = 0; round < kRounds; ++round) {
        if (round % 2 == 0)
            bareRound();
        moduleGui.emplace_back();
        module.push_back(run(modulePage, "RequestToVmsServer", &moduleGui.back()));
        if (round % 2 == 1)
            bareRound();
    }
    const double ratio = Bench::median(bare) > 0 ? Bench::median(module) / Bench::median(bare) : 0;
    Bench::printResult("RequestToVmsServer through the module (calls/s)", Bench::median(module),
                       "echo slot of a bare object (calls/s)", Bench::median(bare), "", ">= 0.95");
    // What the module adds where it runs: steadier than the calls per
    // second, which the renderer and the machine's other work share.
    Bench::printResult("GUI thread's processor time per call, module (us)",
                       Bench::median(moduleGui), "the same for the bare echo (us)",
                       Bench::median(bareGui), "", "for reference");

    // Single calls: alternating blocks of kSingleCalls, kSingleBlocks of each.
    std::vector<double> moduleTrips, bareTrips;
    roundTrips(modulePage, "RequestToVmsServer", kSingleCalls);
    roundTrips(&barePage, "echo", kSingleCalls);
    for (int block = 0; block < kSingleBlocks; ++block) {
        const bool moduleFirst = block % 2 == 0;
        for (int k = 0; k < 2; ++k) {
            const bool isModule = (k == 0) == moduleFirst;
            const std::vector<double> trips = isModule
                ? roundTrips(modulePage, "RequestToVmsServer", kSingleCalls)
                : roundTrips(&barePage, "echo", kSingleCalls);
            if (int(trips.size()) != kSingleCalls) {
                std::fprintf(stderr, "the single calls did not all come back\n");
                return 1;
            }
            auto& into = isModule ? moduleTrips : bareTrips;
            into.insert(into.end(), trips.cbegin(), trips.cend());
        }
    }
    std::printf("Single calls, each after the answer of the one before, %d of each:\n",
                kSingleCalls * kSingleBlocks);
    const double median = Bench::median(moduleTrips), bareMedian = Bench::median(bareTrips);
    const double p99 = Bench::percentile(moduleTrips, 99);
    const double bareP99 = Bench::percentile(bareTrips, 99);
    Bench::printResult("round trip through the module, median (ms)", median,
                       "round trip of the bare echo, median (ms)", bareMedian, "", "<= 1.05");
    Bench::printResult("round trip through the module, 99th pct (ms)", p99,
                       "round trip of the bare echo, 99th pct (ms)", bareP99, "", "<= 1.05");

    TaviLogic::m_ClientSdk = nullptr;
    const bool met = ratio >= 0.95 && bareMedian > 0 && median / bareMedian <= 1.05 && bareP99 > 0
        && p99 / bareP99 <= 1.05;
    return Bench::goalLine(">= 0.95x the calls of a bare echo slot, single round trips <= 1.05x "
                           "the bare echo (median and 99th percentile)",
                           met);
}

#include "bench_bridgecalls.moc"
