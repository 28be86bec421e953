#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtCore/QTranslator>
#include <TaviSim.h>
#include <TaviWebModuleVersion.h>
#include <TaviWebPage.h>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>

static_assert(TAVIWEBMODULE_VERSION >= TAVIWEBMODULE_VERSION_CHECK(1, 1, 0)
              && TAVIWEBMODULE_VERSION < TAVIWEBMODULE_VERSION_CHECK(2, 0, 0));

// Links against every piece a host uses and prints what the installed module
// and the stand-ins answer: the data center's class, the version compiled
// against and the one loaded, whether the installed translation and page
// library are where the build was told, and a request to the simulated SDK.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int (*makePath)(QString) = &MakePath;
    void (VmsWebWidgets::*open)(const QString&) = &VmsWebWidgets::OpenUrl;
    void (TaviWebPage::*reload)() = &TaviWebPage::reload;
    Q_UNUSED(makePath);
    Q_UNUSED(open);
    Q_UNUSED(reload);

    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    QTranslator translator;
    const bool translation = translator.load(QStringLiteral("taviwebmodule_zh_CN"),
                                             QStringLiteral(TAVI_TRANSLATIONS_DIR));
    const bool library = QFile::exists(QStringLiteral(TAVI_JS_DIR "/taviweb.js"));
    TaviSim::installClientSdk();
    char devid[] = "nvr-01";
    QString answer;
    dc->RequestToServerSync(1001, "{}", devid, 300, answer);
    QTextStream(stdout) << dc->metaObject()->className() << ' ' << TAVIWEBMODULE_VERSION_STRING
                        << ' ' << taviWebModuleVersion() << ' ' << translation << library << ' '
                        << answer << '\n';
    return 0;
}
