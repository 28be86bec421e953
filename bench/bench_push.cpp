// Push throughput: server responses from a host thread delivered into open
// pages by the module, against the same scripts passed straight to
// runJavaScript.

#include "BenchSupport.h"
#include "TestSupport.h"

#include <KelCommand.h>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kEvents = 20000;
constexpr int kRounds = 5;
const char* const kBody = "{\"cmd\":3,\"devid\":\"cam-lobby\",\"request\":\"{\\\"channel\\\":3}\","
                          "\"result\":\"ok\",\"records\":[1,2,3,4,5,6,7,8]}";

// Arms every page to announce, by its title, when count calls have arrived.
void arm(const std::vector<QWebEnginePage*>& pages, int count)
{
    static int round = 0;
    ++round;
    for (QWebEnginePage* page : pages)
        TestSupport::evalJs(
            page,
            QStringLiteral("window.count = 0; window.expected = %1; window.round = %2; true")
                .arg(count)
                .arg(round));
}

// Waits until every page has announced the last call.
bool allCounted(const std::vector<QWebEnginePage*>& pages)
{
    QEventLoop loop;
    int remaining = int(pages.size());
    std::vector<QMetaObject::Connection> connections;
    for (QWebEnginePage* page : pages) {
        connections.push_back(
            QObject::connect(page, &QWebEnginePage::titleChanged, &loop, [&](const QString& title) {
                if (title.startsWith(QLatin1String("done")) && --remaining == 0)
                    loop.quit();
            }));
    }
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    for (const auto& c : connections)
        QObject::disconnect(c);
    return remaining == 0;
}

// Events per second through the module: the host calls FuncResponeCallback
// from its own thread.
double throughModule(const std::vector<QWebEnginePage*>& pages)
{
    arm(pages, kEvents);
    QElapsedTimer clock;
    clock.start();
    std::thread host([] {
        std::string body = kBody;
        for (int i = 0; i < kEvents; ++i) {
            std::string sn = std::to_string(i);
            __tagKelCommand record;
            std::memset(&record, 0, sizeof(record));
            record.sn = sn.data();
            record.msg = body.data();
            record.ack = 0;
            WebViewDataCenter::GetInstance()->FuncResponeCallback(&record);
        }
    });
    const bool ok = allCounted(pages);
    host.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    return ok ? kEvents / seconds : 0;
}

// The same scripts handed straight to runJavaScript on the GUI thread,
// optionally with a result callback like the module's.
double bare(const std::vector<QWebEnginePage*>& pages, bool withCallback)
{
    std::vector<QString> scripts;
    scripts.reserve(kEvents);
    for (int i = 0; i < kEvents; ++i)
        scripts.push_back(QStringLiteral("emitServerRespone('%1', '0', '%2')")
                              .arg(QString::number(i), QString::fromUtf8(kBody)));
    arm(pages, kEvents);
    QElapsedTimer clock;
    clock.start();
    for (const QString& script : scripts) {
        for (QWebEnginePage* page : pages) {
            if (withCallback)
                page->runJavaScript(script, [](const QVariant& result) { qDebug() << result; });
            else
                page->runJavaScript(script);
        }
    }
    const bool ok = allCounted(pages);
    const double seconds = clock.nsecsElapsed() / 1e9;
    return ok ? kEvents / seconds : 0;
}

void measure(const char* label, const std::vector<QWebEnginePage*>& pages)
{
    std::vector<double> module, baseline, withCallback;
    // The order rotates each round, so that no path always runs right after
    // another (the page's garbage collector lags behind a burst).
    for (int round = 0; round < kRounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            switch ((round + step) % 3) {
            case 0:
                baseline.push_back(bare(pages, false));
                break;
            case 1:
                module.push_back(throughModule(pages));
                break;
            default:
                withCallback.push_back(bare(pages, true));
                break;
            }
        }
    }
    const QByteArray figure = QByteArray("module, ") + label + " (events/s per page)";
    const QByteArray base = QByteArray("bare runJavaScript, ") + label + " (events/s)";
    Bench::printResult(figure.constData(), Bench::median(module), base.constData(),
                       Bench::median(baseline), "", ">= 0.9");
    std::printf("%-48s %12.2f\n\n", "  for reference: bare with a result callback",
                Bench::median(withCallback));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    Bench::quietDebugOutput();

    std::printf("Push throughput: %d server responses from a host thread, median of %d\n\n",
                kEvents, kRounds);
    QWidget parent;
    std::vector<std::unique_ptr<VmsWebWidgets>> widgets;
    std::vector<QWebEnginePage*> pages;
    auto open = [&] {
        widgets.push_back(std::make_unique<VmsWebWidgets>(&parent));
        pages.push_back(TestSupport::pageOf(*widgets.back()));
        return TestSupport::loadPage(*widgets.back(), QUrl(QStringLiteral("qrc:/bench/push.html")),
                                     60000);
    };

    if (!open())
        return 1;
    measure("one page", pages);
    for (int i = 1; i < 4; ++i)
        if (!open())
            return 1;
    measure("four pages", pages);
    return 0;
}
