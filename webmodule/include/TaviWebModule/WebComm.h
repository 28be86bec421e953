#pragma once

#include "taviwebmodule_export.h"

// Hosts written against earlier releases find the view and MakePath here.
#include "MakePath.h"
#include "MyWebEngineView.h"

#include <QtCore/QObject>
#include <QtCore/QString>

class QAudioOutput;
class QEvent;
class QJsonObject;
class QMediaPlayer;
class PlayVideoDialog;

// The native object a page reaches as "CWebComm" on its web channel. Every
// public slot is callable from the page; results that come later are pushed
// into the page, never returned. The slots are defined by concern in
// WebComm.cpp (relay), WebCommFiles.cpp and WebCommMedia.cpp.
class TAVIWEBMODULE_EXPORT CWebComm : public QObject
{
    Q_OBJECT
public:
    explicit CWebComm(QObject* parent = nullptr);
    ~CWebComm() override;

    // Copies source to target; true when the copy was written. Not callable
    // from the page.
    bool CopyFileProcess(const QString& source, const QString& target);

    // Builds the host notice {"cmd": cmd, "data": data} in the indented JSON
    // form and hands it to the host through the data center.
    static void SendHostNotice(const QString& cmd, const QJsonObject& data);

protected:
    // Refuses deferred deletion: a page can reach deleteLater() through the
    // web channel, and only the owner may end the bridge (by delete).
    bool event(QEvent* event) override;

public slots:
    QString BrowseFilePath(QString originalPath);
    QString BrowseFile(QString originalPath);
    void PlaySoundFile(QString file);
    QString GetDevStatus();
    QString GetDevSessionId(QString devId);
    void ShowPicture(QString filePath);
    void PlayVideoFile(QString file);
    void CopyFileFunc(QString command);
    void DelFileFunc(QString command);
    bool ShowDevAlarmTips(QString msg);
    void GetUserToken();
    void SetDownloadPath(QString filePath);
    int AfterSnapshot(QString base64, QString channelId, int time, QString filePath);
    void ReleaseWebPage(QString url);
    int NotifyToHost(QString msg, QString sn);
    QString NotifyToHostSync(QString msg, int timeout = 300);
    int RequestToVmsServer(int cmd, QString msg, QString sn, QString devid);
    QString RequestToVmsServerSync(int cmd, QString msg, QString devid, int timeout = 300);

Q_SIGNALS:
    // To the page that called CopyFileFunc, on its own channel, as JSON
    // texts: each order's outcome ({index, sourceFile, targetFile, outcome:
    // "written", "refused" or "failed", why}), and a long copy's progress
    // ({index, sourceFile, targetFile, done, total}, four times a second at
    // most). Pages that do not listen are unaffected.
    void emitCopyResult(QString result);
    void emitCopyProgress(QString progress);

private:
    QMediaPlayer* m_pMediaPlayer;
    QAudioOutput* m_pAudioOutput;
    PlayVideoDialog* m_pPlayVideoDlg;
};
