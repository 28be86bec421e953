#include "WebComm.h"

#include "ImageDialog.h"
#include "MyMessageBox.h"
#include "PlayVideoDialog.h"
#include "WebViewDataCenter.h"

#include <TaviLogic.h>

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFocusEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>

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
    Q_UNUSED(msg);
    Q_UNUSED(timeout);
    return QString();
}

int CWebComm::RequestToVmsServer(int cmd, QString msg, QString sn, QString devid)
{
    Q_UNUSED(cmd);
    Q_UNUSED(msg);
    Q_UNUSED(sn);
    Q_UNUSED(devid);
    return -1;
}

QString CWebComm::RequestToVmsServerSync(int cmd, QString msg, QString devid, int timeout)
{
    Q_UNUSED(cmd);
    Q_UNUSED(msg);
    Q_UNUSED(devid);
    Q_UNUSED(timeout);
    return QString();
}

QString CWebComm::GetDevSessionId(QString devId)
{
    Q_UNUSED(devId);
    return QString();
}

void CWebComm::GetUserToken()
{
}

QString CWebComm::GetDevStatus()
{
    return QString();
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
    // The old pair stops when it is deleted, back in the event loop.
    if (m_pMediaPlayer) {
        m_pMediaPlayer->deleteLater();
        m_pAudioOutput->deleteLater();
    }
    m_pMediaPlayer = new QMediaPlayer(this);
    m_pAudioOutput = new QAudioOutput(this);
    m_pMediaPlayer->setAudioOutput(m_pAudioOutput);
    m_pMediaPlayer->setSource(QUrl::fromLocalFile(file));

    // Some multimedia back ends crash the process when they decode sound
    // with no device to play it on; without a device there is nothing to hear.
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        qDebug() << "Error:" << QStringLiteral("No audio output device");
        return;
    }
    m_pMediaPlayer->play();
    if (m_pMediaPlayer->error() != QMediaPlayer::NoError)
        qDebug() << "Error:" << m_pMediaPlayer->errorString();
    else
        qDebug() << "No Error";
}

void CWebComm::ShowPicture(QString filePath)
{
    ImageDialog dialog(filePath, nullptr);
    dialog.exec();
}

void CWebComm::PlayVideoFile(QString file)
{
    LogMgr* log = taviLogMgr();
    log->logDebug(QStringLiteral("[PlayVideoFile] called, file:") + file);

    // The old dialog deletes itself once back in the event loop, so its
    // playback stops after the new one has started.
    if (m_pPlayVideoDlg) {
        m_pPlayVideoDlg->close();
        m_pPlayVideoDlg = nullptr;
    }

    log->logDebug(QStringLiteral("[PlayVideoFile] creating PlayVideoDialog"));
    PlayVideoDialog* dialog = new PlayVideoDialog(nullptr);
    m_pPlayVideoDlg = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Only compares addresses: an older dialog dying later leaves the newer
    // one in place.
    connect(dialog, &QObject::destroyed, this, [this, dialog] {
        if (m_pPlayVideoDlg == dialog)
            m_pPlayVideoDlg = nullptr;
    });
    // Still off screen: this creates the native video window for the SDK.
    dialog->show();

    log->logDebug(QStringLiteral("[PlayVideoFile] calling LoadVideo with file:") + file);
    dialog->LoadVideo(file);
    log->logDebug(QStringLiteral("[PlayVideoFile] LoadVideo returned"));
}

bool CWebComm::ShowDevAlarmTips(QString msg)
{
    QDialog owner; // never shown; keeps the box off the task bar
    CMessageBox box(&owner);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Centred on the primary screen, wherever that screen starts.
        const QRect area = screen->geometry();
        box.move(area.x() + (area.width() - box.width()) / 2,
            area.y() + (area.height() - box.height()) / 2);
    }
    return box.DevAlarmTips(msg);
}
