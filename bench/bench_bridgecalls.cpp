// Bridge call throughput: pipelined RequestToVmsServer calls from a page
// against a client SDK that answers at once, against an echo slot of a bare
// object on its own channel.

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

// Calls per second, measured inside the page.
double run(QWebEnginePage* page, const char* method)
{
    using namespace TestSupport;
    evalJs(page, QStringLiteral("window.run('%1', %2)").arg(QLatin1String(method)).arg(kCalls));
    if (!waitForJs(page, QStringLiteral("window.elapsed !== undefined"), 120000))
        return 0;
    const double ms = evalJs(page, QStringLiteral("window.elapsed")).toDouble();
    return ms > 0 ? kCalls / (ms / 1000.0) : 0;
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

    std::printf("Bridge call throughput: %d pipelined calls from a page, median of 11\n\n", kCalls);
    // A warm-up round each, then alternate.
    run(modulePage, "RequestToVmsServer");
    run(&barePage, "echo");
    std::vector<double> module, bare;
    for (int round = 0; round < 11; ++round) {
        bare.push_back(run(&barePage, "echo"));
        module.push_back(run(modulePage, "RequestToVmsServer"));
    }
    const double ratio = Bench::median(bare) > 0 ? Bench::median(module) / Bench::median(bare) : 0;
    Bench::printResult("RequestToVmsServer through the module (calls/s)", Bench::median(module),
                       "echo slot of a bare object (calls/s)", Bench::median(bare), "", ">= 0.9");
    TaviLogic::m_ClientSdk = nullptr;
    return Bench::goalLine(">= 0.9x the calls of a bare echo slot", ratio >= 0.9);
}

#include "bench_bridgecalls.moc"
