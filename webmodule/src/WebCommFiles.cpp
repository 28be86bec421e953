// CWebComm: file browse, copy, delete, the download folder and snapshots.
// Copies, deletions and snapshots run on a thread of their own while the GUI
// thread serves its events (see runOffThread); the call returns when they
// are done. The bridge may be destroyed meanwhile, with its page: after the
// work, nothing of it is touched unless it is still there.

#include "BlockingBudget.h"
#include "BridgeAccess.h"
#include "FileCopy.h"
#include "FileWriter.h"
#include "HostLines.h"
#include "HostNotice.h"
#include "Logging.h"
#include "OffThread.h"
#include "PageBrowser.h"
#include "PageCommands.h"
#include "PageEvents.h"
#include "WebComm.h"
#include "WebPage.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

using namespace TaviWebModuleInternal;

namespace {

// Where a browse dialog opens when the page gives no path.
QString startFolder(const QString& originalPath)
{
    return originalPath.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : originalPath;
}

// The snapshot's file, from the page's image text; 0 when written, -1 when
// not (nothing is written then). filePath has its backslashes as slashes;
// the path rule judges it once the lines of every snapshot are written.
int saveSnapshot(const QPointer<QObject>& bridge, const QString& base64, const QString& filePath,
                 const FileRoots& roots, const std::atomic<bool>& stop)
{
    const std::optional<QByteArray> image = snapshotImageData(base64);
    if (!image) {
        // "The data lacks the 'base64,' prefix, a wrong data format."
        HostLine::warning() << "[AfterSnapshot] base64 缺少 'base64,' 前缀, 数据格式错误 (filePath="
                            << filePath << ")";
        return -1;
    }

    const QString folder = filePath.section(QLatin1Char('/'), 0, -2);
    HostLine::debug() << "filePath:" << filePath << "path" << folder;
    if (!pagePath(bridge, "AfterSnapshot", filePath, PathUse::Write) || folder.isEmpty())
        return -1;
    // An empty file reported as a snapshot would hide a capture that failed.
    if (image->isEmpty()) {
        qCDebug(lcWebModule) << "AfterSnapshot: no image data after the marker, nothing written:"
                             << filePath;
        return -1;
    }
    if (!withinPathLimits(filePath)) {
        qCDebug(lcWebModule) << "AfterSnapshot: path beyond the system's limits refused, length"
                             << filePath.size();
        return -1;
    }
    // A relative folder may exist without MakePath being able to say so; the
    // open below is the real test. Inside a root the folders are made
    // beneath it instead.
    if (!roots.restricted)
        MakePath(folder);

    ReplacingFile file(
        rootedName(filePath, roots, RootAccess::Write, roots.restricted, /*followLink=*/true));
    if (!file.open() || file.file().write(*image) != image->size() || stop || !file.commit()) {
        qCDebug(lcWebModule) << "Failed to write the snapshot:" << filePath
                             << (stop ? QStringLiteral("its page is gone") : file.errorString());
        return -1;
    }
    return 0;
}

// Tells the page that called CopyFileFunc what became of one order.
void tellCopy(CWebComm* bridge, int index, const QString& source, const QString& target,
              const char* outcome, const QString& why = QString())
{
    QJsonObject result { { QStringLiteral("index"), index },
                         { QStringLiteral("sourceFile"), source },
                         { QStringLiteral("targetFile"), target },
                         { QStringLiteral("outcome"), QLatin1String(outcome) } };
    if (!why.isEmpty())
        result.insert(QStringLiteral("why"), why);
    Q_EMIT bridge->emitCopyResult(
        QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
}

// Why the page's path for what ("source" or "target") was refused, for the
// page.
QString refusalWhy(const char* what, const QString& text)
{
    return QStringLiteral("the %1 is %2")
        .arg(QLatin1String(what), TaviWebModuleInternal::refusalWhy(text));
}

} // namespace

// An empty start folder is none given (the dialog opens in the current
// folder), not a path to judge.
QString CWebComm::BrowseFilePath(QString originalPath)
{
    if (!bridgeCallAllowed(this, "BrowseFilePath"))
        return QString();
    const std::optional<QString> start = originalPath.isEmpty()
        ? QString()
        : pagePath(this, "BrowseFilePath", originalPath, PathUse::Read);
    if (!start)
        return QString();
    // A page reopening the dialog at once leaves the operator turns of the window.
    const ModalTurn turn(this, "BrowseFilePath");
    if (turn.refused())
        return originalPath;
    QWidget parent; // the dialog's parent, never shown
    const QString chosen = QFileDialog::getExistingDirectory(
        &parent, QString(), startFolder(*start), QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? originalPath : chosen;
}

QString CWebComm::BrowseFile(QString originalPath)
{
    if (!bridgeCallAllowed(this, "BrowseFile"))
        return QString();
    const std::optional<QString> start = originalPath.isEmpty()
        ? QString()
        : pagePath(this, "BrowseFile", originalPath, PathUse::Read);
    if (!start)
        return QString();
    const ModalTurn turn(this, "BrowseFile");
    if (turn.refused())
        return originalPath;
    QWidget parent; // the dialog's parent, never shown
    const QString chosen
        = QFileDialog::getOpenFileName(&parent, QString(), startFolder(*start),
                                       QStringLiteral("Audio Files (*.mp3 *.wav);;All Files (*)"));
    return chosen.isEmpty() ? originalPath : chosen;
}

void CWebComm::CopyFileFunc(QString command)
{
    if (!bridgeCallAllowed(this, "CopyFileFunc"))
        return;
    HostLine::debug() << "CopyFileFunc command" << command;
    QJsonArray orders;
    // A JSON object reads as no orders: the page learns so as of no JSON.
    if (!commandArray(command, orders)
        || (orders.isEmpty() && !command.trimmed().startsWith(QLatin1Char('[')))) {
        tellCopy(this, -1, QString(), QString(), "refused",
                 QStringLiteral("the command is not a JSON array of orders"));
        return;
    }
    for (int index = 0; index < orders.size(); ++index) {
        const QJsonValue order = orders.at(index);
        if (!order.isObject()) {
            tellCopy(this, index, QString(), QString(), "refused",
                     QStringLiteral("not an order {sourceFile, targetFile}"));
            continue;
        }
        const QJsonObject o = order.toObject();
        const QString source = o.value(QStringLiteral("sourceFile")).toString();
        const QString target = o.value(QStringLiteral("targetFile")).toString();
        // A refused order still leaves the line of a copy that failed there.
        const std::optional<QString> from = pagePath(this, "CopyFileFunc", source, PathUse::Read);
        if (!from) {
            logRefusedCopy(slashedPath(source));
            tellCopy(this, index, source, target, "refused", refusalWhy("source", source));
            continue;
        }
        const std::optional<QString> to = pagePath(this, "CopyFileFunc", target, PathUse::Write);
        if (!to) {
            logRefusedCopy(*from);
            tellCopy(this, index, source, target, "refused", refusalWhy("target", target));
            continue;
        }
        const FileRoots roots = currentFileRoots(this);
        // 0: after each chunk, queued from the copying thread; otherwise
        // from what the thread has done so far, every so many ms.
        const int every = CopyProgressInterval::of(this);
        std::atomic<qint64> done { 0 }, total { 0 };
        qint64 told = -1;
        const auto tellProgress = [&, self = QPointer<CWebComm>(this)](qint64 now, qint64 of) {
            if (!self || now == told)
                return;
            told = now;
            const QJsonObject progress { { QStringLiteral("index"), index },
                                         { QStringLiteral("sourceFile"), source },
                                         { QStringLiteral("targetFile"), target },
                                         { QStringLiteral("done"), now },
                                         { QStringLiteral("total"), of } };
            Q_EMIT self->emitCopyProgress(
                QString::fromUtf8(QJsonDocument(progress).toJson(QJsonDocument::Compact)));
        };
        QTimer ticker;
        if (every > 0) {
            ticker.setInterval(every);
            QObject::connect(&ticker, &QTimer::timeout, [&] {
                if (done > 0)
                    tellProgress(done, total);
            });
            ticker.start();
        }
        bool copied = false;
        const bool bridgeAlive = runOffThread(this, [&](const std::atomic<bool>& stop) {
            copied = copyFile(*from, *to, roots, &stop, [&](qint64 bytes, qint64 of) {
                total = of;
                done = bytes;
                // Handled before the loop of runOffThread ends: before the outcome.
                if (every == 0)
                    QMetaObject::invokeMethod(
                        &ticker, [&tellProgress, bytes, of] { tellProgress(bytes, of); },
                        Qt::QueuedConnection);
            });
        });
        ticker.stop();
        // Gone with its page: the orders left are not for anyone any more.
        if (!bridgeAlive)
            return;
        if (copied) {
            // A copy that told its progress also tells its end.
            if (told >= 0 && told != done)
                tellProgress(done, total);
            tellCopy(this, index, source, target, "written");
            // The file as written, backslashes mended: the page's own text
            // may name a file that is not there.
            const NotifyingPage from(pageEventsOfBridge(this));
            sendShowTip(*to, *to);
        } else {
            const QFileInfo info(source);
            tellCopy(this, index, source, target, "failed",
                     !info.exists()       ? QStringLiteral("no such source file")
                         : !info.isFile() ? QStringLiteral("the source is not a regular file")
                                          : QStringLiteral("the copy could not be written"));
        }
    }
}

bool CWebComm::CopyFileProcess(const QString& source, const QString& target)
{
    return copyFile(source, target);
}

void CWebComm::DelFileFunc(QString command)
{
    if (!bridgeCallAllowed(this, "DelFileFunc"))
        return;
    const FileRoots roots = currentFileRoots(this);
    runOffThread(
        this, [&command, &roots, bridge = QPointer<QObject>(this)](const std::atomic<bool>& stop) {
            QJsonArray paths;
            if (!commandArray(command, paths))
                return;
            for (const QJsonValue& value : std::as_const(paths)) {
                if (stop)
                    return;
                if (!value.isString())
                    continue;
                // A link to a file is removed itself; what it points to stays.
                const std::optional<QString> path
                    = pagePath(bridge, "DelFileFunc", value.toString(), PathUse::Write);
                if (path && withinPathLimits(*path))
                    removeFileBeneath(*path, roots);
            }
        });
}

void CWebComm::SetDownloadPath(QString filePath)
{
    if (!bridgeCallAllowed(this, "SetDownloadPath"))
        return;
    // Empty brings the save dialog back: no folder to judge.
    const std::optional<QString> folder = filePath.isEmpty()
        ? QString()
        : pagePath(this, "SetDownloadPath", filePath, PathUse::Write);
    if (folder)
        CWebPage::m_strDownloadPath = *folder;
}

int CWebComm::AfterSnapshot(QString base64, QString channelId, int time, QString filePath)
{
    if (!bridgeCallAllowed(this, "AfterSnapshot"))
        return -1;
    HostLine::debug() << "filePath:" << filePath;
    const QString path = slashedPath(filePath);
    const FileRoots roots = currentFileRoots(this);
    int result = -1;
    runOffThread(this, [&, bridge = QPointer<QObject>(this)](const std::atomic<bool>& stop) {
        result = saveSnapshot(bridge, base64, path, roots, stop);
    });
    if (result != 0)
        return result;
    const NotifyingPage from(pageEventsOfBridge(this));
    sendHostNotice(QStringLiteral("afterSnapshot"),
                   QJsonObject { { QStringLiteral("filePath"), path },
                                 { QStringLiteral("channelId"), channelId },
                                 { QStringLiteral("time"), time } });
    return 0;
}

int CWebComm::SavePageAsPdf(QString filePath)
{
    const auto tell
        = [bridge = QPointer<CWebComm>(this), filePath](const char* outcome, const QString& why) {
              if (!bridge)
                  return;
              QJsonObject result { { QStringLiteral("filePath"), filePath },
                                   { QStringLiteral("outcome"), QLatin1String(outcome) } };
              if (!why.isEmpty())
                  result.insert(QStringLiteral("why"), why);
              Q_EMIT bridge->emitPdfResult(
                  QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
          };
    if (!bridgeCallAllowed(this, "SavePageAsPdf")) {
        tell("refused", QStringLiteral("the page is not of a trusted origin"));
        return -1;
    }
    const std::optional<QString> path = pagePath(this, "SavePageAsPdf", filePath, PathUse::Write);
    if (!path || !withinPathLimits(*path)) {
        tell("refused",
             QStringLiteral("the path is ") + TaviWebModuleInternal::refusalWhy(filePath));
        return -1;
    }
    const BridgeGate* gate = BridgeGate::of(this);
    PageBrowser* browser = gate ? PageBrowser::of(gate->page()) : nullptr;
    if (!browser) {
        tell("failed", QStringLiteral("no page to print"));
        return -1;
    }
    browser->saveAsPdf(*path, [tell, target = *path](bool written, const QString& why) {
        if (!written)
            qCDebug(lcWebModule) << "SavePageAsPdf: not written:" << target << why;
        tell(written ? "written" : "failed", why);
    });
    return 0;
}
