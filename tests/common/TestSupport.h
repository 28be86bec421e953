#pragma once

// Shared helpers of the test programs (and the benchmarks): pages and their
// JavaScript, bridge calls, what the host receives, files and log capture.
// The includes are those nearly every suite needs.

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QLoggingCategory>
#include <QtCore/QPointer>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEngineDownloadRequest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <thread>

class QFileDialog;

namespace TestSupport {

// The data center, one for the process.
inline WebViewDataCenter* dc()
{
    return WebViewDataCenter::GetInstance();
}

// The test page that records every push call and can call the bridge.
QUrl bridgePageUrl();

// Opens url in w and waits for loadFinished; true when it loaded.
bool loadPage(VmsWebWidgets& w, const QUrl& url, int timeoutMs = 30000);
// Opens the bridge page and waits until its channel is connected.
bool loadBridgePage(VmsWebWidgets& w, int timeoutMs = 30000);
// The page shown by w.
QWebEnginePage* pageOf(VmsWebWidgets& w);
// Clicks w's page at pos (the view's coordinates) with button, as the
// operator would; false while the page has no widget to take it.
bool clickInPage(VmsWebWidgets& w, const QPoint& pos, Qt::MouseButton button);

// A web widget host of its own, for suites that share one page.
struct BridgePage
{
    QWidget parent; // outlives the widgets
    VmsWebWidgets widgets { &parent };
    bool load() { return loadBridgePage(widgets); }
    QWebEnginePage* page() { return pageOf(widgets); }
};

// Runs script in the page's main world and returns its value. An invalid
// QVariant when the page did not answer within timeoutMs.
QVariant evalJs(QWebEnginePage* page, const QString& script, int timeoutMs = 30000);
// Waits until the JavaScript expression is truthy, asking again when the
// page leaves a question unanswered.
bool waitForJs(QWebEnginePage* page, const QString& expression, int timeoutMs = 10000);

// Calls a bridge method from the page with args (JSON-serialisable) and
// returns its result; ok tells whether an answer came within timeoutMs.
QVariant callBridge(QWebEnginePage* page, const QString& method, const QVariantList& args,
                    bool* ok = nullptr, int timeoutMs = 10000);
// Starts the call and returns its id at once, for calls that block in a
// modal loop; fetch the result with bridgeResult().
int startBridgeCall(QWebEnginePage* page, const QString& method, const QVariantList& args);
QVariant bridgeResult(QWebEnginePage* page, int id, bool* ok = nullptr, int timeoutMs = 10000);

// Has the page call method with args again as soon as each call returns,
// for runMs of its own clock, and waits for the end; the results in order.
// ok tells whether the loop ended.
QVariantList loopBridgeCall(QWebEnginePage* page, const QString& method, const QVariantList& args,
                            int runMs, bool* ok);

// A script that has the page click a download link to href, as a user
// would; true is its value.
QString downloadLinkScript(const QString& href);

// Every download request of the default profile while alive, in order.
// Made before the widgets, first (a handler of the host's) sees each
// request before the pages do.
class DownloadRequests
{
public:
    explicit DownloadRequests(std::function<void(QWebEngineDownloadRequest*)> first = {});
    ~DownloadRequests() { QObject::disconnect(m_connection); }
    QList<QPointer<QWebEngineDownloadRequest>> list;
    // Whether the nth request has come and ended.
    bool finished(int n) const { return list.size() > n && list[n] && list[n]->isFinished(); }
    // Waits for one request and its end; true when it completed.
    bool oneCompleted();

private:
    QMetaObject::Connection m_connection;
};

// Calls the method (a slot or a signal) of object directly, as the channel
// would, the arguments converted to its parameter types; its result, or
// null for void.
QVariant metaCall(QObject* object, const char* signature, QVariantList args);

// The push calls recorded by the bridge page, as compact JSON text
// [{"args":[..],"fn":..}, ..], once there are at least count of them.
QString pageCalls(QWebEnginePage* page, int count);
void clearPageCalls(QWebEnginePage* page);
// Calls in the same text form, from (function, arguments) pairs.
QString callsText(const QList<std::pair<QString, QStringList>>& calls);

// The host's "showTip" notice for a written file, byte for byte (for paths
// without quotes or backslashes).
QString tipText(const QString& path, const QString& suffix);

// Records, from any thread, what the host receives while alive: notices
// (emitFuncInfoCenterNotify) and page notifications (emitFuncWebNotify),
// connected directly as a host must. answer, if any, runs inside the
// notification handler, as a host's would.
class HostRecorder
{
public:
    using Answer = std::function<void(QString& msg, QString& sn)>;
    explicit HostRecorder(Answer answer = {});
    ~HostRecorder();
    HostRecorder(const HostRecorder&) = delete;
    HostRecorder& operator=(const HostRecorder&) = delete;

    QStringList notices() const { return get(m_notices); }
    QStringList msgs() const { return get(m_msgs); }
    QStringList sns() const { return get(m_sns); }

private:
    QStringList get(const QStringList& list) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return list;
    }
    mutable std::mutex m_mutex;
    QStringList m_notices, m_msgs, m_sns;
    QList<QMetaObject::Connection> m_connections;
};

// A scratch folder, the current folder while it lives. In texts given to
// fill(), "{D}" stands for its path and "{D\}" for it with backslashes.
class ScratchDir : public QTemporaryDir
{
public:
    ScratchDir();
    ~ScratchDir();
    QString fill(QString text) const;

private:
    QString m_previous;
};

// Small file helpers: write (creating the folder), read ("<unreadable>" when
// the file cannot be read).
bool writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// Every regular file under dir (hidden ones too), relative to it, sorted.
QStringList filesUnder(const QString& dir);
// A string as the debug stream quotes it (quotes and backslashes escaped).
QString debugQuoted(QString s);

// Limits the size of any file this process writes, while alive: a longer
// write fails instead of killing the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    bool ok() const { return m_ok; }

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_ok = false;
};

// Swaps two names of the file system (a real folder and a link to
// elsewhere, say) again and again, atomically, on a thread of its own while
// alive: a local process racing the module's checks. The first swap is done
// when the constructor returns. Leaves both names as they were at the start.
class NameSwapper
{
public:
    NameSwapper(const QString& a, const QString& b);
    ~NameSwapper();
    NameSwapper(const NameSwapper&) = delete;
    NameSwapper& operator=(const NameSwapper&) = delete;
    // The swaps done so far; -1 when the first one failed.
    int swaps() const { return m_swaps; }

private:
    QByteArray m_a, m_b;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_swaps { 0 };
    std::thread m_thread;
};

// Captures Qt's message output while alive and restores the previous handler
// afterwards. Thread-safe: messages may come from any thread. A line of a
// category other than "default" reads "<category>: <text>".
class LogCapture
{
public:
    enum Verbosity {
        ModuleDebug, // the module's own debug lines too, which hosts do not see by default
        AsHostSees, // what a host without logging rules gets
    };
    explicit LogCapture(Verbosity verbosity = ModuleDebug);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line, or only the debug ones.
    QStringList lines(bool debugOnly = false) const;
    QStringList debugLines() const { return lines(true); }
    bool contains(const QString& line) const { return lines().contains(line); }
    // The sum of the warning budget's "Dropped N <kind> about <about> (at
    // most <perSecond> a second)" lines.
    int dropped(const QString& about, int perSecond, const char* kind = "warnings") const;
    // Hands each later line to observer too, as it comes, on the thread that logs it.
    void observe(std::function<void(const QString& line)> observer);

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
    static void moduleDebugFilter(QLoggingCategory* category);

    mutable std::mutex m_mutex;
    QList<std::pair<QtMsgType, QString>> m_entries;
    std::function<void(const QString&)> m_observer;
    QtMessageHandler m_previous = nullptr;
    const bool m_moduleDebug;
    QLoggingCategory::CategoryFilter m_previousFilter = nullptr;
    static LogCapture* s_current;
    static QLoggingCategory::CategoryFilter s_filterBelow;
};

// What a screen reader finds unnamed in window: each control (buttons,
// sliders, pictures, text, the window itself) of its accessibility tree
// whose name is empty, as "<role> <objectName>". Hidden ones are left out.
QStringList unnamedControls(QWidget* window);
// The share (0 to 1) of the pixels of the ring, width pixels wide, along the
// edge of control as it draws itself, within 24 of colour.
double edgeShare(QWidget* control, const QColor& colour, int width = 2);

// Picks path (a file or a folder) in a file dialog and accepts it, as a user
// typing the name would.
void chooseInDialog(QFileDialog* dialog, const QString& path);

// Answers the windows of type T that the module opens (modal dialogs, file
// dialogs) as a user would, from a timer: each one that shows up is handed to
// act, which closes it. One that act leaves open is closed, so that no test
// waits for a person.
template<class T> class DialogDriver : public QObject
{
public:
    explicit DialogDriver(std::function<void(T*)> act)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, act] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<T*>(w);
                if (!dialog || !dialog->isVisible() || dialog == m_current)
                    continue;
                m_current = dialog;
                ++m_count;
                act(dialog);
                if (m_current && m_current->isVisible())
                    m_current->close();
                return;
            }
        });
        m_timer.start(20);
    }
    // How many windows were handed to act.
    int count() const { return m_count; }

private:
    QTimer m_timer;
    QPointer<T> m_current;
    int m_count = 0;
};

} // namespace TestSupport
