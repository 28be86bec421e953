// A host built with QT_NO_KEYWORDS that opens two tabs of the installed
// module: each per-page signal must arrive on the tab it happened in, and
// only there. Prints the signals as "<tab> <signal> <arguments>", one a line,
// and exits with 0 when exactly the expected ones came. Each tab lives on a
// persistent profile of its own, as two VMS servers' tabs would.
#include <QtCore/QDeadlineTimer>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTextStream>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QApplication>
#include <VmsWebWidgets.h>
#include <WebAccessPolicy.h>
#include <WebViewDataCenter.h>
#include <csignal>
#include <functional>

#ifndef QT_NO_KEYWORDS
#error "built with QT_NO_KEYWORDS, as hosts that use Boost.Signals are"
#endif

namespace {

// Each tab asks the host which tab it is (answered per tab) and tells it the
// answer; tab A navigates out once; tab B plays a sound outside the file roots
// and asks for a window.
const char kPage[] = R"(<!doctype html><script src="qrc:///qtwebchannel/qwebchannel.js"></script>
<script>
new QWebChannel(qt.webChannelTransport, function (channel) {
    var bridge = channel.objects.CWebComm;
    if (!bridge) return;
    var tab = location.hash.slice(1);
    bridge.NotifyToHostSync('which tab?', function (answer) { bridge.NotifyToHost(answer, tab); });
    // Once, and after the channel's set-up.
    if (location.hash === '#a' && !sessionStorage.navigated) {
        sessionStorage.navigated = '1';
        setTimeout(function () { location.href = 'http://untrusted.invalid/'; }, 0);
    } else if (location.hash === '#b') {
        bridge.PlaySoundFile('/nowhere/outside.wav');
        window.open(location.pathname + '#w');
    }
});
</script>)";

bool waitFor(const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(60000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir; // outlives the application object, which ends the profiles
    QApplication app(argc, argv);
    const QString file = dir.filePath(QStringLiteral("tab.html"));
    QFile page(file);
    if (!page.open(QIODevice::WriteOnly) || page.write(kPage) < 0)
        return 2;
    page.close();
    const QUrl url = QUrl::fromLocalFile(file);
    const QString origin = WebAccessPolicy::originOf(url);
    WebAccessPolicy& policy = WebAccessPolicy::global();
    policy.setTrustedOrigins({ origin });
    policy.setFileRoots({ dir.path() }, { dir.path() });
    policy.setNavigationPolicy(WebAccessPolicy::TrustedOnly);

    QStringList got;
    QStringList told; // what the tabs told the host, per tab
    int connectedA = 0;
    VmsWebWidgets a(VmsWebWidgets::persistentProfile(QStringLiteral("tab-a"), dir.filePath("a")),
                    nullptr);
    VmsWebWidgets b(VmsWebWidgets::persistentProfile(QStringLiteral("tab-b"), dir.filePath("b")),
                    nullptr);
    const bool ownProfiles = a.profile() != b.profile() && !a.profile()->isOffTheRecord()
        && !b.profile()->isOffTheRecord();
    for (VmsWebWidgets* tab : { &a, &b }) {
        const QString name = tab == &a ? QStringLiteral("A") : QStringLiteral("B");
        const auto record
            = [&got, name](const QString& what) { got << name + QLatin1Char(' ') + what; };
        QObject::connect(tab, &VmsWebWidgets::navigationRefused, [record](const QUrl& u, bool w) {
            record(QStringLiteral("navigationRefused %1 %2").arg(u.toString()).arg(w));
        });
        QObject::connect(tab, &VmsWebWidgets::bridgeWithheld, [record](const QString& o) {
            record(QStringLiteral("bridgeWithheld ") + o);
        });
        QObject::connect(
            tab, &VmsWebWidgets::bridgeCallRefused,
            [record](const QString& m, const QString& o, VmsWebWidgets::RefusalReason r) {
                record(QStringLiteral("bridgeCallRefused %1 %2 %3").arg(m, o).arg(r));
            });
        QObject::connect(tab, &VmsWebWidgets::newWindowRequested,
                         [record](const QUrl& u, VmsWebWidgets::NewWindowAnswer*, VmsWebWidgets**) {
                             record(QStringLiteral("newWindowRequested ") + u.toString());
                         });
        // Answered in the tab's own handler; the notices (no sn) are not counted.
        QObject::connect(tab, &VmsWebWidgets::notifiedHost,
                         [&told, name](const QString& m, const QString& sn) {
                             QString answer = QStringLiteral("tab ") + name, key = sn;
                             if (m == QLatin1String("which tab?"))
                                 WebViewDataCenter::GetInstance()->NotifyResult(answer, key);
                             else if (!sn.isEmpty())
                                 told << name + QLatin1Char(' ') + m + QLatin1Char(' ') + sn;
                         });
        QObject::connect(tab, &VmsWebWidgets::renderProcessEnded,
                         [record](QWebEnginePage::RenderProcessTerminationStatus s, bool reloads) {
                             record(QStringLiteral("renderProcessEnded %1 %2").arg(s).arg(reloads));
                         });
        // Neither tab stops answering, loses pushes or stays down here.
        QObject::connect(tab, &VmsWebWidgets::pageUnresponsive, [record](int ms) {
            record(QStringLiteral("pageUnresponsive %1").arg(ms));
        });
        QObject::connect(tab, &VmsWebWidgets::pageResponsive,
                         [record](int ms) { record(QStringLiteral("pageResponsive %1").arg(ms)); });
        QObject::connect(tab, &VmsWebWidgets::pushesDropped,
                         [record](int n) { record(QStringLiteral("pushesDropped %1").arg(n)); });
        QObject::connect(tab, &VmsWebWidgets::errorStateShown,
                         [record] { record(QStringLiteral("errorStateShown")); });
    }
    QObject::connect(&a, &VmsWebWidgets::bridgeConnected, [&connectedA] { ++connectedA; });
    a.OpenUrl(url.toString() + QStringLiteral("#a"));
    b.OpenUrl(url.toString() + QStringLiteral("#b"));
    const bool first
        = waitFor([&] { return got.size() >= 3 && told.size() >= 2 && connectedA >= 1; });

    // A's renderer ends; the module reloads it.
    const qint64 pid = a.view()->page()->renderProcessPid();
    if (first && pid > 0)
        ::kill(pid_t(pid), SIGKILL);
    const bool second
        = first && waitFor([&] { return got.size() >= 4 && told.size() >= 3 && connectedA >= 2; });

    // The host stops trusting the tabs' origin; B shows its page again.
    policy.setNavigationPolicy(WebAccessPolicy::AllowAll);
    policy.setTrustedOrigins({ QStringLiteral("https://vms.example") });
    b.reload();
    waitFor([&] { return got.size() >= 5; });
    // Anything late shows too.
    const QDeadlineTimer late(500);
    while (!late.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    got.sort();
    told.sort();
    const QStringList expected {
        QStringLiteral("A navigationRefused http://untrusted.invalid/ 0"),
        QStringLiteral("A renderProcessEnded %1 1").arg(QWebEnginePage::KilledTerminationStatus),
        QStringLiteral("B bridgeCallRefused PlaySoundFile %1 %2")
            .arg(origin)
            .arg(VmsWebWidgets::OutsideFileRoots),
        QStringLiteral("B bridgeWithheld ") + origin,
        QStringLiteral("B newWindowRequested ") + url.toString() + QStringLiteral("#w"),
    };
    QTextStream(stdout) << (got + told).join(QLatin1Char('\n')) << '\n';
    if (!second)
        QTextStream(stdout) << "not seen: "
                            << (first ? "the tab back after its renderer ended"
                                      : "the first two signals and A's bridge")
                            << '\n';
    if (!ownProfiles)
        QTextStream(stdout) << "not seen: a persistent profile per tab\n";
    const QStringList toldExpected { QStringLiteral("A tab A a"), QStringLiteral("A tab A a"),
                                     QStringLiteral("B tab B b") };
    return got == expected && told == toldExpected && second && ownProfiles ? 0 : 1;
}
