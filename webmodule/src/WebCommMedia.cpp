// CWebComm: sound, picture viewer, video window and alarm tip.

#include "BlockingBudget.h"
#include "BridgeAccess.h"
#include "HostLines.h"
#include "ImageDialog.h"
#include "MyMessageBox.h"
#include "PlayVideoDialog.h"
#include "ViewerLines.h"
#include "WebComm.h"

#include <QtCore/QDir>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>

using namespace TaviWebModuleInternal;

// The page's paths are opened as they were judged: the player gets a URL
// made from the judged path, absolute, never one of the page's own text.
void CWebComm::PlaySoundFile(QString file)
{
    if (!bridgeCallAllowed(this, "PlaySoundFile"))
        return;
    const std::optional<QString> path = pagePath(this, "PlaySoundFile", file, PathUse::Play);
    // Nothing plays: the line says so, as for a player that failed at once.
    if (!path) {
        HostLine::debug() << "Error: " << QStringLiteral("the path is ") + refusalWhy(file);
        return;
    }
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
        HostLine::debug() << "Error: " << QStringLiteral("No audio output device");
        return;
    }
    m_pMediaPlayer->play();
    if (m_pMediaPlayer->error() != QMediaPlayer::NoError)
        HostLine::debug() << "Error: " << m_pMediaPlayer->errorString();
    else
        HostLine::debug() << "No Error";
}

void CWebComm::ShowPicture(QString filePath)
{
    if (!bridgeCallAllowed(this, "ShowPicture"))
        return;
    // A picture the module may not open is not loaded: its line, no viewer.
    const std::optional<QString> path = pagePath(this, "ShowPicture", filePath, PathUse::Play);
    if (!path) {
        logPictureNotLoaded();
        return;
    }
    const ModalTurn turn(this, "ShowPicture");
    if (turn.refused())
        return;
    ImageDialog dialog(*path, nullptr);
    dialog.exec();
}

// A path the module may not open is, for the dialog, a file that is not
// there: the same lines, and the same window, created and left off screen.
void CWebComm::PlayVideoFile(QString file)
{
    if (!bridgeCallAllowed(this, "PlayVideoFile"))
        return;
    const std::optional<QString> path = pagePath(this, "PlayVideoFile", file, PathUse::Play);
    const QString shown = slashedPath(file); // as judged, refused or not
    HostLine::log(QStringLiteral("[PlayVideoFile] called, file:") + shown);

    // The old dialog deletes itself once back in the event loop, so its
    // playback stops after the new one has started.
    if (m_pPlayVideoDlg) {
        m_pPlayVideoDlg->close();
        m_pPlayVideoDlg = nullptr;
    }

    HostLine::log(QStringLiteral("[PlayVideoFile] creating PlayVideoDialog"));
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

    HostLine::log(QStringLiteral("[PlayVideoFile] calling LoadVideo with file:") + shown);
    if (path)
        dialog->LoadVideo(*path);
    else
        logVideoNotThere(shown);
    HostLine::log(QStringLiteral("[PlayVideoFile] LoadVideo returned"));

    // Nothing will bring it on screen (the next call or the page's end
    // closes it): a window no one sees must not keep the host running once
    // the host's own windows are closed.
    if (dialog->testAttribute(Qt::WA_DontShowOnScreen))
        dialog->setAttribute(Qt::WA_QuitOnClose, false);
}

bool CWebComm::ShowDevAlarmTips(QString msg)
{
    if (!bridgeCallAllowed(this, "ShowDevAlarmTips"))
        return false;
    const ModalTurn turn(this, "ShowDevAlarmTips");
    if (turn.refused())
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
