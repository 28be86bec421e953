// The demo host: opens the demo page (or the user's own) in a tab page of a
// host window, on the simulated host libraries.

#include "DemoHost.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QLoggingCategory>
#include <QtCore/QUrl>
#include <QtWidgets/QApplication>
#include <cstdio>
#include <unistd.h>

namespace {

QtMessageHandler g_previousHandler = nullptr;

// Page console lines and the module's log lines also go to the transcript.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    // The offscreen platform's complaint about fixed-size windows is noise.
    if (msg.startsWith(QLatin1String("This plugin does not support")))
        return;
    const bool fromPage = context.category && qstrcmp(context.category, "js") == 0;
    DemoHost::note(msg, fromPage ? QStringLiteral("page") : QStringLiteral("module"));
    if (g_previousHandler)
        g_previousHandler(type, context, msg);
}

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

QString pageUrl(const QString& given)
{
    if (given.isEmpty())
        return QStringLiteral("qrc:/demo/index.html");
    // A local file may be given as a plain path.
    if (QFileInfo::exists(given))
        return QUrl::fromLocalFile(QFileInfo(given).absoluteFilePath()).toString();
    return QUrl::fromUserInput(given).toString();
}

} // namespace

int main(int argc, char** argv)
{
    // Decided before the application object exists.
    bool headless = !hasDisplay() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i)
        headless = headless || qstrcmp(argv[i], "--headless") == 0;
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
        "page of a host window on the simulated host."));
    parser.addHelpOption();
    QCommandLineOption urlOption(QStringLiteral("url"),
                                 QStringLiteral("Page to open: a URL or a local HTML file."),
                                 QStringLiteral("url"));
    QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("Run offscreen (the default without a display)."));
    QCommandLineOption shotOption(QStringLiteral("screenshot"),
                                  QStringLiteral("Write a PNG of the window before quitting."),
                                  QStringLiteral("file"));
    QCommandLineOption transcriptOption(QStringLiteral("transcript"),
                                        QStringLiteral("Write what the page and the host did."),
                                        QStringLiteral("file"));
    QCommandLineOption tourOption(
        QStringLiteral("tour"),
        QStringLiteral("Play the demo page's tour unattended on this display and quit when "
                       "it ends (as --headless does)."));
    QCommandLineOption quitOption(QStringLiteral("quit-after"),
                                  QStringLiteral("Quit after this many milliseconds."),
                                  QStringLiteral("ms"));
    parser.addOptions(
        { urlOption, headlessOption, tourOption, shotOption, transcriptOption, quitOption });
    parser.process(app);

    DemoHost::Options options;
    options.url = pageUrl(parser.value(urlOption));
    options.screenshotPath = parser.value(shotOption);
    options.transcriptPath = parser.value(transcriptOption);
    options.quitAfterMs = parser.value(quitOption).toInt();
    if (headless) {
        // Headless runs always leave something to look at, then end.
        if (options.screenshotPath.isEmpty())
            options.screenshotPath
                = QDir::current().absoluteFilePath(QStringLiteral("tavi-demo.png"));
        if (options.transcriptPath.isEmpty())
            options.transcriptPath
                = QDir::current().absoluteFilePath(QStringLiteral("tavi-demo-transcript.txt"));
        // The demo page says when its tour is done; another page gets a few seconds.
        if (options.quitAfterMs <= 0)
            options.quitAfterMs = parser.value(urlOption).isEmpty() ? 60000 : 8000;
        options.quitWhenTourEnds = parser.value(urlOption).isEmpty();
    }
    options.quitWhenTourEnds = options.quitWhenTourEnds || parser.isSet(tourOption);

    DemoHost host(options);
    g_previousHandler = qInstallMessageHandler(messageHandler);
    host.show();
    const int rc = app.exec();
    qInstallMessageHandler(g_previousHandler);
    if (headless)
        std::printf("screenshot: %s\ntranscript: %s\n", qPrintable(options.screenshotPath),
                    qPrintable(options.transcriptPath));
    return rc;
}
