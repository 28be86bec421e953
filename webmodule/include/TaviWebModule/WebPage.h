#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QString>
#include <QtWebEngineCore/QWebEnginePage>

class QWebEngineDownloadRequest;

// The page shown by a web widget; decides where downloads go, writes the
// page's console to the host's log, and applies WebAccessPolicy's navigation
// policy and pinned certificates. window.open gives null when the window is
// refused (see VmsWebWidgets::newWindowRequested).
class TAVIWEBMODULE_EXPORT CWebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    // A page in the default profile, its downloads handled by DownloadRequested().
    explicit CWebPage(QObject* parent = nullptr);
    // The same, in profile (which must outlive the page).
    CWebPage(QWebEngineProfile* profile, QObject* parent);
    ~CWebPage() override;

    // Download folder chosen by a page, shared by every page of the process.
    // Empty: the user picks each target in a save dialog. Read and written on
    // the GUI thread only; other threads use SetDownloadPath().
    static QString m_strDownloadPath;
    // Sets m_strDownloadPath from any thread: at once on the GUI thread,
    // otherwise on the GUI thread's next turn of its event loop, in call order.
    static void SetDownloadPath(const QString& path);

public Q_SLOTS:
    // Accepts the download into m_strDownloadPath, or where the user picks in a
    // save dialog (cancelled: refused); the host gets a "showTip" notice.
    void DownloadRequested(QWebEngineDownloadRequest* download);

protected:
    // Under WebAccessPolicy::TrustedOnly, refuses main-frame navigations to
    // untrusted origins (also redirects) and tells the host.
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // Each message goes to taviLogMgr() as "[PageConsole] ..." (at most 100 a
    // second per page) and then to Qt's "js" category as QWebEnginePage does.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;
    // The module's own questions (whether window.open may open) are answered
    // here; every other prompt as QWebEnginePage does.
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;

private:
    // What both constructors set up.
    void setUp();
};
