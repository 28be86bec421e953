// CWebComm: construction, the host notice, and the host relay (requests,
// identity, notifications, device status).

#include "WebComm.h"

#include "BlockingBudget.h"
#include "BridgeAccess.h"
#include "DeviceStatusJson.h"
#include "HostNotice.h"
#include "Logging.h"
#include "PageEvents.h"
#include "PlayVideoDialog.h"
#include "WebViewDataCenter.h"

#include <QtCore/QEvent>
#include <QtCore/QJsonObject>
#include <QtCore/QStringEncoder>
#include <QtCore/QVarLengthArray>
#include <cstring>
#include <list>
#include <string>

using TaviWebModuleInternal::bridgeCallAllowed;
using TaviWebModuleInternal::NotifyingPage;
using TaviWebModuleInternal::pageEventsOfBridge;

namespace {

// A page's text as the UTF-8 C string the SDK takes: the bytes of
// QString::toUtf8(), written on the stack for texts of usual size, as every
// page call passes here (see bench_bridgecalls).
class Utf8Text
{
public:
    explicit Utf8Text(QStringView text)
    {
        // Stateless: a lone surrogate at the end is not kept back for more.
        QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        m_bytes.resize(encoder.requiredSpace(text.size()) + 1);
        *encoder.appendToBuffer(m_bytes.data(), text) = '\0';
        if (encoder.hasError()) {
            // Lone surrogates: toUtf8() writes '?' for them, the encoder U+FFFD.
            const QByteArray bytes = text.toUtf8();
            std::memcpy(m_bytes.data(), bytes.constData(), size_t(bytes.size()) + 1);
        }
    }
    char* data() { return m_bytes.data(); }

private:
    QVarLengthArray<char, 512> m_bytes;
};

} // namespace

CWebComm::CWebComm(QObject* parent)
    : QObject(parent)
    , m_pMediaPlayer(nullptr)
    , m_pAudioOutput(nullptr)
    , m_pPlayVideoDlg(nullptr)
{}

CWebComm::~CWebComm()
{
    // A page's video window goes with its page.
    if (m_pPlayVideoDlg)
        m_pPlayVideoDlg->close();
}

bool CWebComm::event(QEvent* event)
{
    if (event->type() == QEvent::DeferredDelete) {
        qCWarning(lcWebModule) << "Refused to delete the bridge on request; only its owner ends it";
        return true;
    }
    return QObject::event(event);
}

void CWebComm::SendHostNotice(const QString& cmd, const QJsonObject& data)
{
    TaviWebModuleInternal::sendHostNotice(cmd, data);
}

void CWebComm::ReleaseWebPage(QString url)
{
    if (!bridgeCallAllowed(this, "ReleaseWebPage"))
        return;
    Q_UNUSED(url);
}

int CWebComm::NotifyToHost(QString msg, QString sn)
{
    if (!bridgeCallAllowed(this, "NotifyToHost"))
        return -1;
    const NotifyingPage from(pageEventsOfBridge(this));
    return WebViewDataCenter::GetInstance()->NotifyToHost(msg, sn);
}

QString CWebComm::NotifyToHostSync(QString msg, int timeout)
{
    if (!bridgeCallAllowed(this, "NotifyToHostSync"))
        return QString();
    WebViewDataCenter* dataCenter = WebViewDataCenter::GetInstance();
    // The page must not choose how long the window stands still.
    const int limit = dataCenter->NotifyWaitLimit();
    if (timeout > limit) {
        qCDebug(lcWebModule) << "NotifyToHostSync: time-out" << timeout << "ms cut to the limit of"
                             << limit << "ms";
        timeout = limit;
    }
    // Nor how much of the time it holds it; over its budget nothing is sent.
    const TaviWebModuleInternal::BlockingCall call(this, "NotifyToHostSync", &timeout);
    if (call.refused())
        return QString();
    const NotifyingPage from(pageEventsOfBridge(this));
    return dataCenter->NotifyToHostEx(msg, timeout);
}

int CWebComm::RequestToVmsServer(int cmd, QString msg, QString sn, QString devid)
{
    if (!bridgeCallAllowed(this, "RequestToVmsServer"))
        return -1;
    WebViewDataCenter* dataCenter = WebViewDataCenter::GetInstance();
    // Live until the call returns; an empty text is an empty C string, never null.
    Utf8Text strDevid(devid), strSn(sn), strMsg(msg);
    return dataCenter->RequestToServer(cmd, strMsg.data(), strSn.data(), strDevid.data());
}

QString CWebComm::RequestToVmsServerSync(int cmd, QString msg, QString devid, int timeout)
{
    if (!bridgeCallAllowed(this, "RequestToVmsServerSync"))
        return QString();
    QString result;
    WebViewDataCenter* dataCenter = WebViewDataCenter::GetInstance();
    // As for NotifyToHostSync: the SDK waits at most the host's limit, and
    // only while the page's budget lasts.
    const int limit = dataCenter->RequestWaitLimit();
    if (timeout > limit) {
        qCDebug(lcWebModule) << "RequestToVmsServerSync: time-out" << timeout
                             << "ms cut to the limit of" << limit << "ms";
        timeout = limit;
    }
    const TaviWebModuleInternal::BlockingCall call(this, "RequestToVmsServerSync", &timeout);
    if (call.refused())
        return result;
    std::string strDevid = devid.toUtf8().toStdString();
    const std::string strMsg = msg.toUtf8().toStdString();
    dataCenter->RequestToServerSync(cmd, strMsg.c_str(), strDevid.data(), timeout, result);
    return result;
}

QString CWebComm::GetDevSessionId(QString devId)
{
    if (!bridgeCallAllowed(this, "GetDevSessionId"))
        return QString();
    std::string sessionId;
    const std::string strDevId = devId.toUtf8().toStdString();
    WebViewDataCenter::GetInstance()->GetDevSessionId(strDevId.c_str(), sessionId);
    return QString::fromUtf8(sessionId.data(), qsizetype(sessionId.size()));
}

void CWebComm::GetUserToken()
{
    if (!bridgeCallAllowed(this, "GetUserToken"))
        return;
    // The token comes back later as the page call emitUserToken.
    const NotifyingPage from(pageEventsOfBridge(this));
    TaviWebModuleInternal::sendHostNotice(QStringLiteral("getUserToken"), QJsonObject());
}

QString CWebComm::GetDevStatus()
{
    if (!bridgeCallAllowed(this, "GetDevStatus"))
        return QString();
    std::list<std::string> ids;
    DeviceStatusMap status;
    WebViewDataCenter::GetInstance()->GetDeviceStatus(ids, status);
    // The map decides what is reported; the id list is the host's own.
    return TaviWebModuleInternal::deviceStatusJson(status);
}
