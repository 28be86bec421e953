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
    // The bridge of one page; the web widget registers it on the page's channel.
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

public Q_SLOTS:
    // Folder dialog starting in originalPath (empty: the current folder); the
    // chosen folder, or originalPath when cancelled.
    QString BrowseFilePath(QString originalPath);
    // File dialog offering audio files first; the chosen file, or originalPath
    // when cancelled.
    QString BrowseFile(QString originalPath);
    // Plays the local sound file once, replacing a sound still playing.
    void PlaySoundFile(QString file);
    // Every channel of every device the host knows, as indented JSON.
    QString GetDevStatus();
    // The device's session id from the client SDK; empty for an unknown device.
    QString GetDevSessionId(QString devId);
    // Shows the picture in a modal ImageDialog; returns when it closes.
    void ShowPicture(QString filePath);
    // Opens a PlayVideoDialog on the local file, replacing one already open;
    // nothing opens for a missing file or without the host's stream SDK.
    void PlayVideoFile(QString file);
    // Copies the files of a JSON array of {"sourceFile", "targetFile"} off the
    // GUI thread; the host gets a "showTip" notice per file written.
    void CopyFileFunc(QString command);
    // Deletes the regular files of a JSON array of paths off the GUI thread;
    // folders and missing paths are skipped.
    void DelFileFunc(QString command);
    // Shows msg in a modal CMessageBox; true when the user chose "Prompt later".
    bool ShowDevAlarmTips(QString msg);
    // Asks the host for the user's token ("getUserToken" notice); the answer
    // reaches the page as emitUserToken(token).
    void GetUserToken();
    // Sets the download folder of every page (CWebPage::SetDownloadPath);
    // empty brings the save dialog back.
    void SetDownloadPath(QString filePath);
    // Stores the image after "base64," as filePath and sends the host an
    // "afterSnapshot" notice; 0 when stored, -1 otherwise.
    int AfterSnapshot(QString base64, QString channelId, int time, QString filePath);
    // Does nothing; kept for pages that call it.
    void ReleaseWebPage(QString url);
    // Hands msg to the host (WebViewDataCenter::emitFuncWebNotify); the answer
    // reaches the page as emitHostResponse(message, sn). Returns 0.
    int NotifyToHost(QString msg, QString sn);
    // Hands msg to the host and waits up to timeout ms (at most the host's
    // limit) for its answer; empty after the time-out.
    QString NotifyToHostSync(QString msg, int timeout = 300);
    // Sends a request to the VMS server; the answer reaches the page as
    // emitServerRespone(sn, ack, msg). The SDK's status, negative when refused.
    int RequestToVmsServer(int cmd, QString msg, QString sn, QString devid);
    // Sends a request and waits for the answer body (line breaks and tabs
    // removed); empty when none.
    QString RequestToVmsServerSync(int cmd, QString msg, QString devid, int timeout = 300);
    // Saves the page as it is shown as a PDF file at filePath (A4, within the
    // host's write roots), synced to the disk before it counts as written.
    // 0 when started, -1 when refused (not trusted, a path the rules refuse);
    // the outcome reaches the page as emitPdfResult.
    int SavePageAsPdf(QString filePath);

Q_SIGNALS:
    // To the page that called CopyFileFunc, on its own channel, as a JSON
    // text: one order's outcome ({index, sourceFile, targetFile, outcome:
    // "written", "refused" or "failed", why}). Pages that do not listen are
    // unaffected.
    void emitCopyResult(QString result);
    // To the same page, as a JSON text: a long copy's progress ({index,
    // sourceFile, targetFile, done, total}), four times a second at most.
    void emitCopyProgress(QString progress);
    // To the page whose call the policy refused, before the call's own
    // answer (which stays the method's failure value), as a JSON text:
    // {method, reason, why} and, for a refused path, "path" as the page gave
    // it. reason: "untrusted-document", "outside-file-roots", "url-not-path",
    // "empty-path" or "nul-in-path". Pages that do not listen are unaffected.
    void emitCallRefused(QString refusal);
    // To the page that called SavePageAsPdf, as a JSON text: {filePath,
    // outcome: "written", "refused" or "failed", why}.
    void emitPdfResult(QString result);

private:
    QMediaPlayer* m_pMediaPlayer;
    QAudioOutput* m_pAudioOutput;
    PlayVideoDialog* m_pPlayVideoDlg;
};
