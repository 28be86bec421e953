#include "WebComm.h"

#include "DeviceStatusJson.h"
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

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

int MakePath(QString path)
{
    const QString parent = path.section(QLatin1Char('/'), 0, -2);
    if (parent.isEmpty())
        return -1;
    if (!QDir(parent).exists() && MakePath(parent) != 0)
        return -1;
    // Resolved against the current folder, as every other relative path is;
    // an existing directory counts as success, a file in the way does not.
    QDir().mkdir(path);
    return QFileInfo(path).isDir() ? 0 : -1;
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

#include "WebPage.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QTemporaryFile>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bounded steps of the copy: memory stays flat whatever the file's size.
constexpr qint64 kCopyChunk = 1024 * 1024;
constexpr size_t kKernelCopyChunk = 64 * 1024 * 1024;

// Lets the kernel copy from in to out without passing the bytes through the
// process, as cp does. Returns the bytes copied; stops early (for the
// caller's own loop to go on from there) where the kernel cannot or fails.
qint64 kernelCopy(QFile& in, QFile& out)
{
    qint64 copied = 0;
    for (;;) {
        const ssize_t n
            = ::copy_file_range(in.handle(), nullptr, out.handle(), nullptr, kKernelCopyChunk, 0);
        if (n > 0)
            copied += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // the end, or an error the plain loop will meet and name
    }
    // The files' own positions follow the descriptors.
    in.seek(copied);
    out.seek(copied);
    return copied;
}

mode_t processUmask()
{
    // Read, not set and restored: other threads of the process create files.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

// Writes a file like QSaveFile: into a hidden temporary file beside the
// target, which replaces the target by rename only when complete, so a
// failure leaves no partial file and an existing target intact. Unlike
// QSaveFile it does not force the data to disk first, which would make an
// export several times slower than cp; like cp, a crash right after the copy
// may lose the new data.
class ReplacingFile
{
public:
    explicit ReplacingFile(const QString& target)
        : m_final(resolved(target))
        , m_temp(QFileInfo(m_final).path() + QStringLiteral("/.tavi-XXXXXX"))
    {
    }

    bool open()
    {
        if (m_final.isEmpty()) {
            m_error = QStringLiteral("no target path");
            return false;
        }
        if (QFileInfo(m_final).isDir()) {
            m_error = QStringLiteral("the target is a folder");
            return false;
        }
        return m_temp.open();
    }

    QFile& file() { return m_temp; }

    // Makes the new content visible under the target's name; on failure the
    // temporary file goes when this object does. An existing target keeps
    // its mode; a new one gets newFileMode less the umask, as open(2) gives.
    bool commit(mode_t newFileMode = 0666)
    {
        struct stat st {};
        const mode_t mode = ::stat(QFile::encodeName(m_final).constData(), &st) == 0
            ? (st.st_mode & 07777)
            : (newFileMode & ~processUmask());
        if (!m_temp.flush())
            return false;
        if (::fchmod(m_temp.handle(), mode) != 0) {
            m_error = qt_error_string(errno);
            return false;
        }
        m_temp.close();
        if (m_temp.error() != QFileDevice::NoError)
            return false;
        if (::rename(QFile::encodeName(m_temp.fileName()).constData(),
                     QFile::encodeName(m_final).constData())
            != 0) {
            m_error = qt_error_string(errno);
            return false;
        }
        m_temp.setAutoRemove(false);
        return true;
    }

    QString errorString() const { return m_error.isEmpty() ? m_temp.errorString() : m_error; }

private:
    // A link as target is written through, as opening it would.
    static QString resolved(const QString& target)
    {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? info.symLinkTarget() : canonical;
    }

    QString m_final;
    QTemporaryFile m_temp;
    QString m_error;
};

// True when both paths name the same file on disk: same spelling, another
// spelling, a symbolic link or a hard link.
bool isSameFile(const QString& a, const QString& b)
{
    struct stat sa {};
    struct stat sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0
        || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The array of a page's JSON command; a document holding an object gives an
// empty array. False, after the warning, when the text is no JSON at all.
bool commandArray(const QString& command, QJsonArray& array)
{
    const QJsonDocument doc = QJsonDocument::fromJson(command.toUtf8());
    if (doc.isNull()) {
        qWarning() << "Invalid JSON string";
        return false;
    }
    array = doc.array();
    return true;
}

// Where a browse dialog opens when the page gives no path.
QString startFolder(const QString& originalPath)
{
    return originalPath.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : originalPath;
}

} // namespace

QString CWebComm::BrowseFilePath(QString originalPath)
{
    QWidget parent; // the dialog's parent, never shown
    const QString chosen = QFileDialog::getExistingDirectory(
        &parent, QString(), startFolder(originalPath), QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? originalPath : chosen;
}

QString CWebComm::BrowseFile(QString originalPath)
{
    QWidget parent; // the dialog's parent, never shown
    const QString chosen = QFileDialog::getOpenFileName(
        &parent, QString(), startFolder(originalPath),
        QStringLiteral("Audio Files (*.mp3 *.wav);;All Files (*)"));
    return chosen.isEmpty() ? originalPath : chosen;
}

void CWebComm::CopyFileFunc(QString command)
{
    qDebug() << "CopyFileFunc command" << command;
    QJsonArray orders;
    if (!commandArray(command, orders))
        return;
    for (const QJsonValue& order : orders) {
        if (!order.isObject())
            continue;
        const QJsonObject o = order.toObject();
        const QString source = o.value(QStringLiteral("sourceFile")).toString();
        const QString target = o.value(QStringLiteral("targetFile")).toString();
        if (!CopyFileProcess(source, target))
            continue;
        SendHostNotice(QStringLiteral("showTip"),
                       QJsonObject{{QStringLiteral("text"), target},
                                   {QStringLiteral("type"), QStringLiteral("file")},
                                   {QStringLiteral("suffix"), target.right(3)}});
    }
}

bool CWebComm::CopyFileProcess(const QString& source, const QString& target)
{
    if (!QFile::exists(source)) {
        qDebug() << "Source file does not exist: " << source;
        return false;
    }
    // Folders, devices and pipes are no files to copy (a device may never end).
    if (!QFileInfo(source).isFile()) {
        qDebug() << "Failed to open files for copying.";
        return false;
    }
    // Writing onto the source itself would destroy it; refused before any
    // folder is created or any byte is written.
    if (isSameFile(source, target)) {
        qDebug() << "Refusing to copy a file onto itself:" << source << "->" << target;
        return false;
    }

    const QString folder = QFileInfo(target).path();
    if (!QDir(folder).exists())
        QDir(folder).mkpath(folder);

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qDebug() << "Failed to open files for copying.";
        return false;
    }
    ReplacingFile out(target);
    if (!out.open()) {
        qDebug() << "Failed to open files for copying.";
        return false;
    }

    // A new copy gets the source's permissions, as cp gives them: a private
    // recording must not become readable for everyone by being exported.
    struct stat sourceInfo = {};
    const mode_t sourceMode
        = ::fstat(in.handle(), &sourceInfo) == 0 ? (sourceInfo.st_mode & 0777) : 0666;
    const qint64 expected = in.size();
    qint64 copied = kernelCopy(in, out.file());
    QByteArray buffer(int(kCopyChunk), Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(buffer.data(), kCopyChunk);
        if (got < 0) {
            qDebug() << "Failed to read the source for copying:" << source << in.errorString();
            return false;
        }
        if (got == 0)
            break;
        const qint64 put = out.file().write(buffer.constData(), got);
        if (put != got) {
            qDebug() << "Failed to write the copy:" << target << out.errorString();
            return false;
        }
        copied += got;
    }
    // A source that ended early (cut while being read) is not a copy.
    if (copied < expected) {
        qDebug() << "Failed to read the source for copying:" << source << "read" << copied
                 << "of" << expected << "bytes";
        return false;
    }
    if (!out.commit(sourceMode)) {
        qDebug() << "Failed to write the copy:" << target << out.errorString();
        return false;
    }
    return true;
}

void CWebComm::DelFileFunc(QString command)
{
    QJsonArray paths;
    if (!commandArray(command, paths))
        return;
    for (const QJsonValue& value : paths) {
        if (!value.isString())
            continue;
        // A link to a file is removed itself; what it points to stays.
        const QString path = value.toString();
        if (QFileInfo(path).isFile())
            QFile::remove(path);
    }
}

void CWebComm::SetDownloadPath(QString filePath)
{
    CWebPage::m_strDownloadPath = filePath.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

int CWebComm::AfterSnapshot(QString base64, QString channelId, int time, QString filePath)
{
    qDebug() << "filePath:" << filePath;
    filePath.replace(QLatin1Char('\\'), QLatin1Char('/'));

    const QLatin1String marker("base64,");
    const qsizetype at = base64.indexOf(marker);
    if (at < 0) {
        qWarning() << "[AfterSnapshot] base64 缺少 'base64,' 前缀, 数据格式错误 (filePath="
                   << filePath << ")";
        return -1;
    }
    QStringView payload = QStringView(base64).mid(at + marker.size());
    const qsizetype nul = payload.indexOf(QChar(u'\0'));
    if (nul >= 0)
        payload.truncate(nul);
    // Only the base64 alphabet counts; whatever else the text holds is
    // skipped by the decoder in any 8-bit form, so the cheap one will do.
    const QByteArray image = QByteArray::fromBase64(payload.toLatin1());

    const QString folder = filePath.section(QLatin1Char('/'), 0, -2);
    qDebug() << "filePath:" << filePath << "path" << folder;
    if (folder.isEmpty())
        return -1;
    // A relative folder may exist without MakePath being able to say so; the
    // open below is the real test.
    MakePath(folder);

    ReplacingFile file(filePath);
    if (!file.open() || file.file().write(image) != image.size() || !file.commit()) {
        qDebug() << "[AfterSnapshot] failed to write the snapshot:" << filePath
                 << file.errorString();
        return -1;
    }

    SendHostNotice(QStringLiteral("afterSnapshot"),
                   QJsonObject{{QStringLiteral("filePath"), filePath},
                               {QStringLiteral("channelId"), channelId},
                               {QStringLiteral("time"), time}});
    return 0;
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
