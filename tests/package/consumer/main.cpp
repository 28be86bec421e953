#include <QtCore/QCoreApplication>
#include <QtCore/QTextStream>
#include <TaviWebPage.h>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>

// Links against every piece a host uses and checks the data center answers.
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
    QTextStream(stdout) << dc->metaObject()->className() << '\n';
    return dc->NotifyToHost("{}") == 0 ? 0 : 1;
}
