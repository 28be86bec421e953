// Page churn: open a page, call the bridge, show a picture, try a missing
// video, close the page; 300 times. Prints the memory growth per cycle and
// the top-level widgets left over, against the same churn of bare pages
// (a web view with a channel and an object of its own) in the same run.

#include "BenchSupport.h"
#include "TestSupport.h"

#include <ImageDialog.h>
#include <QtCore/QFile>
#include <QtGui/QImage>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QApplication>
#include <TaviSim.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kWarmUp = 30;
constexpr int kCycles = 300;

// Resident memory of this process in kB.
qint64 residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(10);
    }
}

struct Run
{
    double kbPerCycle = 0;
    int widgetsLeft = 0;
};

// cycle() runs one page's life; growth is measured after the warm-up.
Run churn(const std::function<void()>& cycle)
{
    const int before = QApplication::topLevelWidgets().size();
    qint64 start = 0;
    for (int i = 0; i < kWarmUp + kCycles; ++i) {
        cycle();
        settle();
        if (i + 1 == kWarmUp)
            start = residentKb();
    }
    return { double(residentKb() - start) / kCycles,
             int(QApplication::topLevelWidgets().size()) - before };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Bench::quietDebugOutput();
    TaviSim::installClientSdk();
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("picture.png"));
    QImage(640, 480, QImage::Format_RGB32).save(picture);
    TestSupport::DialogDriver<ImageDialog> closer([](ImageDialog* dialog) { dialog->accept(); });

    const Run module = churn([&] {
        QWidget parent;
        auto web = std::make_unique<VmsWebWidgets>(&parent);
        if (!TestSupport::loadBridgePage(*web))
            qFatal("the bridge page did not load");
        QWebEnginePage* page = TestSupport::pageOf(*web);
        TestSupport::callBridge(page, QStringLiteral("NotifyToHost"), { "soak", "1" });
        TestSupport::callBridge(page, QStringLiteral("GetDevStatus"), {});
        TestSupport::callBridge(page, QStringLiteral("ShowPicture"), { picture });
        TestSupport::callBridge(page, QStringLiteral("PlayVideoFile"), { "/nonexistent/clip.mp4" });
    });

    QObject echo;
    const Run bare = churn([&] {
        QWidget parent;
        auto* view = new QWebEngineView(&parent);
        QWebChannel channel;
        channel.registerObject(QStringLiteral("CWebComm"), &echo);
        view->page()->setWebChannel(&channel);
        QSignalSpy loaded(view->page(), &QWebEnginePage::loadFinished);
        view->setUrl(TestSupport::bridgePageUrl());
        if (!loaded.wait(30000))
            qFatal("the bare page did not load");
        TestSupport::waitForJs(view->page(), QStringLiteral("window.bridgeReady === true"));
        delete view;
    });

    Bench::printResult("memory growth per page cycle (module)", module.kbPerCycle,
                       "memory growth per page cycle (bare page)", bare.kbPerCycle, "kB",
                       "under 20 kB a cycle");
    std::printf("%-48s %12d\n%-48s %12d\n\n", "top-level widgets left over (module)",
                module.widgetsLeft, "top-level widgets left over (bare page)", bare.widgetsLeft);
    const bool met = module.kbPerCycle < 20 && module.widgetsLeft == 0;
    std::printf("goal under 20 kB a cycle, no widget left: %s\n", met ? "met" : "NOT met");
    return 0;
}
