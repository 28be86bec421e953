// CWebComm: sound, picture viewer, video window and alarm tip.

#include "BridgeAccess.h"
#include "ImageDialog.h"
#include "LogText.h"
#include "Logging.h"
#include "MyMessageBox.h"
#include "PlayVideoDialog.h"
#include "WebComm.h"

#include <QtCore/QDir>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>
#include <TaviLogic.h>

using TaviWebModuleInternal::bridgeCallAllowed;
using TaviWebModuleInternal::pagePath;
using TaviWebModuleInternal::PathUse;

// The page's paths are opened as they were judged: the player gets a URL
// made from the judged path, absolute, never one of the page's own text.
void CWebComm::PlaySoundFile(QString file)
{
    if (!bridgeCallAllowed(this, "PlaySoundFile"))
        return;
    const std::optional<QString> path = pagePath(this, "PlaySoundFile", file, PathUse::Play);
    if (!path)
        return;
    // The old pair stops when it is deleted, back in the event loop.
    if (m_pMediaPlayer) {
        m_pMediaPlayer->deleteLater();
        m_pAudioOutput->deleteLater();
    }
    m_pMediaPlayer = new QMediaPlayer(this);
    m_pAudioOutput = new QAudioOutput(this);
    m_pMediaPlayer->setAudioOutput(m_pAudioOutput);
    m_pMediaPlayer->setSource(QUrl::fromLocalFile(
        QDir::isAbsolutePath(*path) ? *path : QDir::currentPath() + QLatin1Char('/') + *path));

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
    if (!bridgeCallAllowed(this, "ShowPicture"))
        return;
    const std::optional<QString> path = pagePath(this, "ShowPicture", filePath, PathUse::Play);
    if (!path)
        return;
    ImageDialog dialog(*path, nullptr);
    dialog.exec();
}

void CWebComm::PlayVideoFile(QString file)
{
    if (!bridgeCallAllowed(this, "PlayVideoFile"))
        return;
    const std::optional<QString> path = pagePath(this, "PlayVideoFile", file, PathUse::Play);
    if (!path)
        return;
    LogMgr* log = taviLogMgr();
    log->logDebug(QStringLiteral("[PlayVideoFile] called, file:")
                  + TaviWebModuleInternal::escapeForLog(*path));

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

    log->logDebug(QStringLiteral("[PlayVideoFile] calling LoadVideo with file:")
                  + TaviWebModuleInternal::escapeForLog(*path));
    dialog->LoadVideo(*path);
    log->logDebug(QStringLiteral("[PlayVideoFile] LoadVideo returned"));

    // Still off screen: the file or the stream SDK was missing, so nothing
    // will ever show. An invisible window would only pile up.
    if (dialog->testAttribute(Qt::WA_DontShowOnScreen)) {
        qCDebug(lcWebModule) << "PlayVideoFile: playback could not start, window closed:" << *path;
        m_pPlayVideoDlg = nullptr;
        dialog->close();
    }
}

bool CWebComm::ShowDevAlarmTips(QString msg)
{
    if (!bridgeCallAllowed(this, "ShowDevAlarmTips"))
        return false;
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
