#include "WebComm.h"

#include "DeviceStatusJson.h"
#include "PlayVideoDialog.h"
#include "WebViewDataCenter.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFocusEvent>

// ---- MakePath ---------------------------------------------------------------

int MakePath(QString path)
{
    Q_UNUSED(path);
    return -1;
}

// ---- MyWebEngineView --------------------------------------------------------

MyWebEngineView::MyWebEngineView(QWidget* parent)
    : QWebEngineView(parent)
{
}

MyWebEngineView::~MyWebEngineView() = default;

void MyWebEngineView::focusInEvent(QFocusEvent* event)
{
    QWidget* window = parentWidget();
    while (window && !window->isWindow())
        window = window->parentWidget();
    if (window) {
        // Deferred to the next turn; dropped if the window dies first.
        QTimer::singleShot(0, Qt::PreciseTimer, window, [window] {
            window->raise();
            window->activateWindow();
        });
    }
    event->ignore();
}

void MyWebEngineView::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

// ---- CWebComm ---------------------------------------------------------------

CWebComm::CWebComm(QObject* parent)
    : QObject(parent)
    , m_pMediaPlayer(nullptr)
    , m_pAudioOutput(nullptr)
    , m_pPlayVideoDlg(nullptr)
{
}

CWebComm::~CWebComm() = default;

void CWebComm::SendHostNotice(const QString& cmd, const QJsonObject& data)
{
    QJsonObject notice;
    notice.insert(QStringLiteral("cmd"), cmd);
    notice.insert(QStringLiteral("data"), data);
    const QString text = QString::fromUtf8(QJsonDocument(notice).toJson(QJsonDocument::Indented));
    WebViewDataCenter::GetInstance()->NotifyToHost(text.toUtf8().constData());
}

void CWebComm::ReleaseWebPage(QString url)
{
    Q_UNUSED(url);
}

int CWebComm::NotifyToHost(QString msg, QString sn)
{
    return WebViewDataCenter::GetInstance()->NotifyToHost(msg, sn);
}

// ---- Requests, identity and synchronous notification ------------------------

QString CWebComm::NotifyToHostSync(QString msg, int timeout)
{
    return WebViewDataCenter::GetInstance()->NotifyToHostEx(msg, timeout);
}

int CWebComm::RequestToVmsServer(int cmd, QString msg, QString sn, QString devid)
{
    WebViewDataCenter* dataCenter = WebViewDataCenter::GetInstance();
    // Live until the call returns; an empty text is an empty C string, never null.
    std::string strDevid = devid.toUtf8().toStdString();
    const std::string strSn = sn.toUtf8().toStdString();
    const std::string strMsg = msg.toUtf8().toStdString();
    return dataCenter->RequestToServer(cmd, strMsg.c_str(), strSn.c_str(), strDevid.data());
}

QString CWebComm::RequestToVmsServerSync(int cmd, QString msg, QString devid, int timeout)
{
    QString result;
    WebViewDataCenter* dataCenter = WebViewDataCenter::GetInstance();
    std::string strDevid = devid.toUtf8().toStdString();
    const std::string strMsg = msg.toUtf8().toStdString();
    dataCenter->RequestToServerSync(cmd, strMsg.c_str(), strDevid.data(), timeout, result);
    return result;
}

QString CWebComm::GetDevSessionId(QString devId)
{
    std::string sessionId;
    const std::string strDevId = devId.toUtf8().toStdString();
    WebViewDataCenter::GetInstance()->GetDevSessionId(strDevId.c_str(), sessionId);
    return QString::fromUtf8(sessionId.data(), qsizetype(sessionId.size()));
}

void CWebComm::GetUserToken()
{
    // The token comes back later as the page call emitUserToken.
    SendHostNotice(QStringLiteral("getUserToken"), QJsonObject());
}

QString CWebComm::GetDevStatus()
{
    std::list<std::string> ids;
    DeviceStatusMap status;
    WebViewDataCenter::GetInstance()->GetDeviceStatus(ids, status);
    // The map decides what is reported; the id list is the host's own.
    return TaviWebModuleInternal::deviceStatusJson(status);
}

// ---- Files ------------------------------------------------------------------

QString CWebComm::BrowseFilePath(QString originalPath)
{
    return originalPath;
}

QString CWebComm::BrowseFile(QString originalPath)
{
    return originalPath;
}

void CWebComm::CopyFileFunc(QString command)
{
    Q_UNUSED(command);
}

bool CWebComm::CopyFileProcess(const QString& source, const QString& target)
{
    Q_UNUSED(source);
    Q_UNUSED(target);
    return false;
}

void CWebComm::DelFileFunc(QString command)
{
    Q_UNUSED(command);
}

void CWebComm::SetDownloadPath(QString filePath)
{
    Q_UNUSED(filePath);
}

int CWebComm::AfterSnapshot(QString base64, QString channelId, int time, QString filePath)
{
    Q_UNUSED(base64);
    Q_UNUSED(channelId);
    Q_UNUSED(time);
    Q_UNUSED(filePath);
    return -1;
}

// ---- Media ------------------------------------------------------------------

void CWebComm::PlaySoundFile(QString file)
{
    Q_UNUSED(file);
}

void CWebComm::ShowPicture(QString filePath)
{
    Q_UNUSED(filePath);
}

void CWebComm::PlayVideoFile(QString file)
{
    Q_UNUSED(file);
}

bool CWebComm::ShowDevAlarmTips(QString msg)
{
    Q_UNUSED(msg);
    return false;
}
