#include "WebPage.h"

#include <QtWebEngineCore/QWebEngineDownloadRequest>

QString CWebPage::m_strDownloadPath = QString();

CWebPage::CWebPage(QObject* parent)
    : QWebEnginePage(parent)
{
    // The profile's signal reaches this slot through the meta-object too.
    qRegisterMetaType<QWebEngineDownloadRequest*>("QWebEngineDownloadRequest*");
}

CWebPage::~CWebPage() = default;

void CWebPage::DownloadRequested(QWebEngineDownloadRequest* download)
{
    Q_UNUSED(download);
}
