// The demo host: opens the demo page (or the user's own) in a tab page of a
// host window, on the simulated host libraries.

#include "DemoHost.h"
#include "HostScenario.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QLoggingCategory>
#include <QtCore/QRegularExpression>
#include <QtCore/QSocketNotifier>
#include <QtCore/QStandardPaths>
#include <QtCore/QUrl>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QTcpServer>
#include <QtWidgets/QApplication>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QtMessageHandler g_previousHandler = nullptr;

// Qt's log goes to the transcript too: the page's console with its level, the
// lines of the module (and of Qt itself, which shares the default category).
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    // The offscreen platform's complaint about fixed-size windows is noise.
    if (msg.startsWith(QLatin1String("This plugin does not support")))
        return;
    QString source = QStringLiteral("module");
    QString text = msg;
    QString forwarded = msg;
    if (context.category && qstrcmp(context.category, "js") == 0) {
        // Where the page wrote it, as the host log's console lines say.
        if (context.file && *context.file)
            text += QStringLiteral(" (%1:%2)")
                        .arg(QString::fromUtf8(context.file))
                        .arg(context.line);
        source = type == QtCriticalMsg ? QStringLiteral("page error")
            : type == QtWarningMsg     ? QStringLiteral("page warning")
                                       : QStringLiteral("page info");
        // An exception or a rejected promise that the page left uncaught.
        if (type == QtCriticalMsg && msg.startsWith(QLatin1String("Uncaught")))
            DemoHost::notePageError();
    } else if (msg.startsWith(QLatin1Char('"'))) {
        // After each push the module logs what the page function returned,
        // as a quoted text; "" when it returned nothing.
        source = QStringLiteral("module push result");
        // On the terminal too, a bare "" would say nothing.
        forwarded = QStringLiteral("[module push result] ") + msg;
    }
    DemoHost::note(text, source);
    if (g_previousHandler)
        g_previousHandler(type, context, forwarded);
}

// SIGTERM and SIGINT end the run as the end of a tour does: the handler only
// writes a byte, the event loop reads it.
int g_signalPipe[2] = { -1, -1 };

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

bool watchStopSignals(QObject* parent, std::function<void(int)> stop)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [stop] {
        char byte = 0;
        if (::read(g_signalPipe[0], &byte, 1) == 1)
            stop(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

// Ports that browsers refuse to connect to, whatever a page asks (those
// above 1023 of Chromium's and Firefox's restricted ports, ERR_UNSAFE_PORT):
// the engine's own DevTools on one of them is out of reach of every page, the
// one in this host included. Only programs reach it.
constexpr int kPortsPagesCannotReach[] = { 1719, 1720, 1723, 2049, 3659, 4045, 5060, 5061, 6000,
                                           6566, 6665, 6666, 6667, 6668, 6669, 6697, 10080 };

// One of kPortsPagesCannotReach that nothing listens on now, 0 when none is
// free. Two hosts starting at once never take the same one: each holds a name
// in Linux's abstract socket namespace for its port while it runs.
int claimPortPagesCannotReach()
{
    for (const int port : kPortsPagesCannotReach) {
        const int claim = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (claim < 0)
            return 0;
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray name = "tavi-demo-devtools-" + QByteArray::number(port);
        std::memcpy(address.sun_path + 1, name.constData(), name.size()); // [0] stays 0: abstract
        const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        QTcpServer probe;
        if (::bind(claim, reinterpret_cast<const sockaddr*>(&address), size) == 0
            && probe.listen(QHostAddress::LocalHost, quint16(port)))
            return port; // the claim stays open until the process ends
        ::close(claim);
    }
    return 0;
}

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

// The page to open: a URL with a scheme a browser loads, or a local path,
// relative or absolute, whose "?query" and "#fragment" are kept. Empty, with
// problem set, when the path names no file.
QUrl pageUrl(const QString& given, QString* problem)
{
    if (given.isEmpty())
        return QUrl(QStringLiteral("qrc:/demo/index.html"));
    static const QStringList schemes { "http", "https", "file", "qrc", "data", "about" };
    QUrl url(given, QUrl::StrictMode);
    if (url.isValid() && schemes.contains(url.scheme().toLower())) {
        if (!url.isLocalFile() || QFileInfo::exists(url.toLocalFile()))
            return url;
        *problem = QStringLiteral("no such file: %1").arg(url.toLocalFile());
        return {};
    }
    QString path = given;
    QString query;
    QString fragment;
    if (!QFileInfo::exists(path)) {
        const int hash = path.indexOf(QLatin1Char('#'));
        if (hash >= 0) {
            fragment = path.mid(hash + 1);
            path.truncate(hash);
        }
        const int question = path.indexOf(QLatin1Char('?'));
        if (question >= 0) {
            query = path.mid(question + 1);
            path.truncate(question);
        }
    }
    const QFileInfo file(path);
    if (!file.isFile()) {
        *problem = file.isDir()
            ? QStringLiteral("a folder, not a page: %1").arg(file.absoluteFilePath())
            : QStringLiteral("no such file: %1 (a web address needs http:// or https://)")
                  .arg(file.absoluteFilePath());
        return {};
    }
    url = QUrl::fromLocalFile(file.absoluteFilePath());
    if (!query.isEmpty())
        url.setQuery(query);
    if (!fragment.isEmpty())
        url.setFragment(fragment);
    return url;
}

} // namespace

int main(int argc, char** argv)
{
    // Decided before the application object exists.
    bool headless = !hasDisplay() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i)
        headless = headless || qstrcmp(argv[i], "--headless") == 0
            || (qstrcmp(argv[i], "--serve") == 0 && !hasDisplay());
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1"); // Chromium refuses its sandbox as root
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QApplication app(argc, argv);
    // Page console output (category "js") is only shown from warnings up by default.
    QLoggingCategory::setFilterRules(QStringLiteral("js.debug=true\njs.info=true"));
    QApplication::setApplicationName(QStringLiteral("tavi-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Demo host of the Tavi web module. Opens the demo page, or your own page, in a tab "
        "page of a host window on the simulated host.\n\n"
        "Unattended runs (--headless, also the default without a display, and --tour) end by "
        "themselves and write a screenshot and a transcript. For automated browsers, --serve runs "
        "until SIGTERM, SIGINT or a POST to /stop of its control endpoint, and prints one line "
        "when the page has loaded: TAVI-READY {\"devtools\": ..., \"browserWSEndpoint\": ..., "
        "\"control\": ..., \"secret\": ..., \"pid\": ...}. Both endpoints answer only requests "
        "that carry the run's secret, and none of a web page.\n\n"
        "Exit codes: 0 done; 1 an unknown option, or the screenshot or the transcript could not "
        "be written; 2 a --url path that names no file, a bad port, or a scenario that cannot be "
        "read, or --watch without a local page; 3 the page did not load; "
        "4 the page left an error uncaught (with --fail-on-page-error)."));
    parser.addHelpOption();
    QCommandLineOption urlOption(
        QStringLiteral("url"),
        QStringLiteral("Page to open: a URL (http, https, file, qrc, data) or the path of a local "
                       "file, relative or absolute; ?query and #fragment are kept. Default: the "
                       "demo page, qrc:/demo/index.html."),
        QStringLiteral("url"));
    QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("Run offscreen (the default without a display)."));
    QCommandLineOption shotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Write a PNG of the window, with the dialogs open at the time, before "
                       "quitting. Default in headless runs: tavi-demo.png in the current folder."),
        QStringLiteral("file"));
    QCommandLineOption transcriptOption(
        QStringLiteral("transcript"),
        QStringLiteral("Write what the page, the module and the host did. Default in headless "
                       "runs: tavi-demo-transcript.txt in the current folder."),
        QStringLiteral("file"));
    QCommandLineOption tourOption(
        QStringLiteral("tour"),
        QStringLiteral("Play the demo page's tour unattended on this display and quit when "
                       "it ends (as --headless does)."));
    QCommandLineOption quitOption(
        QStringLiteral("quit-after"),
        QStringLiteral("Quit after this many milliseconds; 0 stays open, headless too. Default: "
                       "stay open; in headless runs 60000 for the demo page (which quits "
                       "earlier, when its tour ends) and 8000 for another page."),
        QStringLiteral("ms"));
    QCommandLineOption closeOption(
        QStringLiteral("close-dialogs"),
        QStringLiteral("In unattended runs nobody closes dialogs, so the host does: this many "
                       "milliseconds after they open it presses the picture viewer's close "
                       "button and the alarm box's \"Prompt later\", and it answers file dialogs. "
                       "0 leaves them open. Default: 1500 in unattended runs, 0 otherwise."),
        QStringLiteral("ms"));
    QCommandLineOption devToolsOption(
        QStringLiteral("devtools"),
        QStringLiteral(
            "Open Qt WebEngine's inspector (DevTools) for the page in a second window."));
    QCommandLineOption remoteOption(
        QStringLiteral("remote-debugging"),
        QStringLiteral("Let a Chromium-based browser on this machine inspect every page: open "
                       "http://127.0.0.1:<port> or chrome://inspect. Loopback only, but "
                       "with no secret: every program on this machine reaches it."),
        QStringLiteral("port"));
    QCommandLineOption serveOption(
        QStringLiteral("serve"),
        QStringLiteral("Serve the page to an automated browser: offscreen without a display, "
                       "DevTools and a control endpoint on loopback for the holder of the run's "
                       "secret, one TAVI-READY line on standard output once the page has "
                       "loaded; runs until SIGTERM, SIGINT or POST /stop, then writes the "
                       "screenshot and the transcript (when asked for) and exits 0."));
    QCommandLineOption allowOriginOption(
        QStringLiteral("allow-origin"),
        QStringLiteral("With --serve: requests of this web origin (scheme://host:port) that carry "
                       "the secret are answered too, e.g. a test runner's own page; repeatable. "
                       "Default: none, requests of web pages are refused."),
        QStringLiteral("origin"));
    QCommandLineOption pageErrorOption(
        QStringLiteral("fail-on-page-error"),
        QStringLiteral("Exit with 4 instead of 0 when the page left an exception or a rejected "
                       "promise uncaught."));
    QCommandLineOption scenarioOption(
        QStringLiteral("scenario"),
        QStringLiteral("Run the simulated host from this scenario (JSON: devices, a timeline of "
                       "device states, notices and data-cache values, answers to notifications "
                       "and from the server, the random tour's seed) instead of its random tour."),
        QStringLiteral("file"));
    QCommandLineOption profileOption(
        QStringLiteral("profile"),
        QStringLiteral("The folder where the page's persistent profile keeps its localStorage, "
                       "IndexedDB, cookies and cache. Default: the folder \"profile\" in the "
                       "demo's data folder (%1).")
            .arg(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)),
        QStringLiteral("folder"));
    QCommandLineOption watchOption(
        QStringLiteral("watch"),
        QStringLiteral("Reload the page when a file under its folder changes, a new one too "
                       "(hidden files and node_modules left out). For a --url that is a local "
                       "file."));
    QCommandLineOption healthOption(
        QStringLiteral("health"),
        QStringLiteral("Write each tab's health (its figures as VmsWebWidgets::health() gives "
                       "them, one JSON line) to the transcript every %1 s, when the page stops "
                       "answering and answers again, and at the end of the run.")
            .arg(DemoHost::kHealthEveryMs / 1000));
    parser.addOptions({ urlOption, headlessOption, tourOption, shotOption, transcriptOption,
                        quitOption, closeOption, devToolsOption, remoteOption, serveOption,
                        allowOriginOption, pageErrorOption, scenarioOption, profileOption,
                        watchOption, healthOption });
    parser.process(app);

    const auto fail = [](const QString& problem) {
        std::fprintf(stderr, "tavi-demo: %s\n", qPrintable(problem));
        return 2;
    };
    DemoHost::Options options;
    QString problem;
    options.url = pageUrl(parser.value(urlOption), &problem);
    if (!options.url.isValid())
        return fail(problem);
    options.watch = parser.isSet(watchOption);
    options.health = parser.isSet(healthOption);
    if (options.watch && !options.url.isLocalFile())
        return fail(QStringLiteral("--watch needs a page that is a local file: %1")
                        .arg(options.url.toDisplayString()));
    if (parser.isSet(scenarioOption)) {
        options.scenario = HostScenario::load(parser.value(scenarioOption), &problem);
        if (!options.scenario)
            return fail(problem);
    }
    options.profileFolder = parser.isSet(profileOption)
        ? parser.value(profileOption)
        : QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
            + QStringLiteral("/profile");
    options.serve = parser.isSet(serveOption);
    options.allowedOrigins = parser.values(allowOriginOption);
    static const QRegularExpression webOrigin(QStringLiteral("^https?://[^/?#\\s]+$"));
    for (const QString& origin : std::as_const(options.allowedOrigins))
        if (!webOrigin.match(origin).hasMatch())
            return fail(QStringLiteral("--allow-origin needs an origin as a browser sends it, "
                                       "http://host:port or https://host:port: %1")
                            .arg(origin));
    options.failOnPageError = parser.isSet(pageErrorOption);
    if (parser.isSet(remoteOption)) {
        bool ok = false;
        options.remoteDebuggingPort = parser.value(remoteOption).toInt(&ok);
        if (!ok || options.remoteDebuggingPort < 1 || options.remoteDebuggingPort > 65535)
            return fail(QStringLiteral("--remote-debugging needs a port from 1 to 65535"));
    } else if (options.serve) {
        options.remoteDebuggingPort = claimPortPagesCannotReach();
        if (options.remoteDebuggingPort == 0)
            return fail(QStringLiteral("no free loopback port for DevTools: each of those "
                                       "browsers refuse is taken"));
    }
    if (options.remoteDebuggingPort > 0) {
        // Read when the first page is made: loopback only, never the network.
        qputenv("QTWEBENGINE_REMOTE_DEBUGGING",
                QByteArray("127.0.0.1:") + QByteArray::number(options.remoteDebuggingPort));
    }
    options.devTools = parser.isSet(devToolsOption);
    options.screenshotPath = parser.value(shotOption);
    options.transcriptPath = parser.value(transcriptOption);
    options.quitAfterMs = qMax(0, parser.value(quitOption).toInt());
    const bool demoPage = parser.value(urlOption).isEmpty();
    if (headless || options.serve) {
        // Unattended runs always leave something to look at.
        if (options.screenshotPath.isEmpty())
            options.screenshotPath
                = QDir::current().absoluteFilePath(QStringLiteral("tavi-demo.png"));
        if (options.transcriptPath.isEmpty())
            options.transcriptPath
                = QDir::current().absoluteFilePath(QStringLiteral("tavi-demo-transcript.txt"));
        // Headless runs end by themselves; a served one when the test says so.
        if (!options.serve) {
            if (!parser.isSet(quitOption))
                options.quitAfterMs = demoPage ? 60000 : 8000;
            options.quitWhenTourEnds = demoPage;
        }
    }
    options.quitWhenTourEnds = options.quitWhenTourEnds || parser.isSet(tourOption);
    options.unattended = headless || options.serve || parser.isSet(tourOption);
    options.closeDialogsMs = parser.isSet(closeOption) ? qMax(0, parser.value(closeOption).toInt())
        : options.unattended                           ? 1500
                                                       : 0;

    DemoHost host(options);
    g_previousHandler = qInstallMessageHandler(messageHandler);
    if (!watchStopSignals(&host, [&host](int) { host.stop(); }))
        std::fprintf(stderr, "tavi-demo: SIGTERM and SIGINT are not handled: %s\n",
                     std::strerror(errno));
    host.show();
    const int rc = app.exec();
    qInstallMessageHandler(g_previousHandler);
    if (headless || options.serve)
        std::printf("screenshot: %s\ntranscript: %s\n", qPrintable(options.screenshotPath),
                    qPrintable(options.transcriptPath));
    return rc;
}
