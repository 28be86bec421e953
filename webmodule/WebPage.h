#pragma once

#include "taviwebmodule_export.h"

#include <QtCore/QString>
#include <QtWebEngineCore/QWebEnginePage>

class QWebEngineDownloadRequest;

// The page shown by a web widget; decides where downloads go.
class TAVIWEBMODULE_EXPORT CWebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit CWebPage(QObject* parent = nullptr);
    ~CWebPage() override;

    // Download folder chosen by a page, shared by every page of the process.
    // Empty: the user picks each target in a save dialog.
    static QString m_strDownloadPath;

public slots:
    void DownloadRequested(QWebEngineDownloadRequest* download);

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;
};
