#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtCore/QTranslator>
#include <QtWidgets/QApplication>
#include <QtWidgets/QTabWidget>
#include <TaviSim.h>
#include <TaviWebModuleVersion.h>
#include <TaviWebPage.h>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>

static_assert(TAVIWEBMODULE_VERSION >= TAVIWEBMODULE_VERSION_CHECK(1, 1, 0)
              && TAVIWEBMODULE_VERSION < TAVIWEBMODULE_VERSION_CHECK(2, 0, 0));

namespace {

// The host's tabs, found from the module's page up its parents, as a host
// finds the tab widget a page sits in. Each cast must see through the module
// boundary: Qt's class from the host, the module's classes from the host.
QString casts()
{
    QTabWidget tabs;
    auto* page = new TaviWebPage(&tabs, QStringLiteral("about:blank"));
    tabs.addTab(page, QStringLiteral("page"));
    QTabWidget* found = nullptr;
    for (QWidget* w = page->parentWidget(); w && !found; w = w->parentWidget())
        found = qobject_cast<QTabWidget*>(w);
    QObject* hosted = page->webWidgets();
    return QString::number(found == &tabs)
        + QString::number(qobject_cast<TaviWebPage*>(tabs.widget(0)) == page)
        + QString::number(qobject_cast<VmsWebWidgets*>(hosted) == page->webWidgets());
}

} // namespace

// Links against every piece a host uses and prints what the installed module
// and the stand-ins answer: the data center's class, the version compiled
// against and the one loaded, whether the installed translation and page
// library are where the build was told, the casts above, and a request to the
// simulated SDK.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int (*makePath)(QString) = &MakePath;
    void (VmsWebWidgets::*open)(const QString&) = &VmsWebWidgets::OpenUrl;
    void (TaviWebPage::*reload)() = &TaviWebPage::reload;
    Q_UNUSED(makePath);
    Q_UNUSED(open);
    Q_UNUSED(reload);

    // The folders the package names: compiled in from the CMake package's
    // variables, or, in a host built with the README's pkg-config line alone,
    // pkg-config's translationsdir and jsdir as the two arguments.
#ifdef TAVI_TRANSLATIONS_DIR
    const QString translationsDir = QStringLiteral(TAVI_TRANSLATIONS_DIR);
    const QString jsDir = QStringLiteral(TAVI_JS_DIR);
#else
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 2;
    const QString translationsDir = args.at(1);
    const QString jsDir = args.at(2);
#endif

    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    QTranslator translator;
    const bool translation
        = translator.load(QStringLiteral("taviwebmodule_zh_CN"), translationsDir);
    const bool library = QFile::exists(jsDir + QStringLiteral("/taviweb.js"));
    TaviSim::installClientSdk();
    char devid[] = "nvr-01";
    QString answer;
    dc->RequestToServerSync(1001, "{}", devid, 300, answer);
    QTextStream(stdout) << dc->metaObject()->className() << ' ' << TAVIWEBMODULE_VERSION_STRING
                        << ' ' << taviWebModuleVersion() << ' ' << translation << library << ' '
                        << casts() << ' ' << answer << '\n';
    return 0;
}
