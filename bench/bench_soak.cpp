// Page churn: open a page, call the bridge, show a picture, try a missing
// video, close the page; 300 times. Prints the memory growth per cycle and
// the top-level widgets left over, against the same churn of bare pages
// (a web view with a channel and an object of its own) in the same run.
// Each churn runs in a process of its own, so that neither inherits the
// other's heap: what one freed would hide what the other grows.

#include "BenchSupport.h"
#include "TestSupport.h"

#include <ImageDialog.h>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtGui/QImage>
#include <QtGui/QPixmapCache>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QApplication>
#include <TaviSim.h>
#include <malloc.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kWarmUp = 30;
constexpr int kCycles = 300;

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(10);
    }
    // Freed memory the heap still holds is no growth.
    malloc_trim(0);
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
            start = Bench::residentKb();
    }
    return { double(Bench::residentKb() - start) / kCycles,
             int(QApplication::topLevelWidgets().size()) - before };
}

} // namespace

// One churn, "module" or "bare", in this process; prints "<kB a cycle>
// <widgets left>".
int churnHere(int argc, char** argv, const QByteArray& kind)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Qt's pixmap cache keeps the pixmaps of every picture window's style
    // sheet until it is full (10 MB by default), then evicts: bounded, not
    // growth. Small, it is full within the warm-up and measures nothing.
    QPixmapCache::setCacheLimit(64);
    Bench::quietDebugOutput();
    TaviSim::installClientSdk();
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("picture.png"));
    QImage(640, 480, QImage::Format_RGB32).save(picture);
    TestSupport::DialogDriver<ImageDialog> closer([](ImageDialog* dialog) { dialog->accept(); });
    QObject echo;
    const auto moduleCycle = [&] {
        QWidget parent;
        auto web = std::make_unique<VmsWebWidgets>(&parent);
        if (!TestSupport::loadBridgePage(*web))
            qFatal("the bridge page did not load");
        QWebEnginePage* page = TestSupport::pageOf(*web);
        TestSupport::callBridge(page, QStringLiteral("NotifyToHost"), { "soak", "1" });
        TestSupport::callBridge(page, QStringLiteral("GetDevStatus"), {});
        TestSupport::callBridge(page, QStringLiteral("ShowPicture"), { picture });
        TestSupport::callBridge(page, QStringLiteral("PlayVideoFile"), { "/nonexistent/clip.mp4" });
        // The stand-in host log keeps every line in memory; a host's writes
        // them to its file.
        TaviSim::clearLog();
    };
    const auto bareCycle = [&] {
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
    };
    const Run run = kind == "module" ? churn(moduleCycle) : churn(bareCycle);
    std::printf("%.3f %d\n", run.kbPerCycle, run.widgetsLeft);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc > 1)
        return churnHere(argc, argv, argv[1]);
    QCoreApplication app(argc, argv);
    const auto inChild = [](const char* kind) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), { QString::fromLatin1(kind) });
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            qFatal("the %s churn failed", kind);
        const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split('\n');
        const QList<QByteArray> last = out.last().split(' ');
        return Run { last.value(0).toDouble(), last.value(1).toInt() };
    };
    const Run bare = inChild("bare");
    const Run module = inChild("module");

    const double goal = 2 * bare.kbPerCycle;
    Bench::printResult("memory growth per page cycle (module)", module.kbPerCycle,
                       "memory growth per page cycle (bare page)", bare.kbPerCycle, "kB",
                       "at most 2x the bare page's");
    std::printf("%-48s %12d\n%-48s %12d\n\n", "top-level widgets left over (module)",
                module.widgetsLeft, "top-level widgets left over (bare page)", bare.widgetsLeft);
    const bool met = module.kbPerCycle <= goal && module.widgetsLeft == 0;
    std::printf("goal at most 2x the bare page's growth, no widget left: %s\n",
                met ? "met" : "NOT met");
    return 0;
}
