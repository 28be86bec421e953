#pragma once

// Shared helpers of the test programs: loading a page into a web widget,
// evaluating JavaScript synchronously, calling the bridge from the page and
// capturing log output.

#include <QtCore/QJsonArray>
#include <QtCore/QMetaObject>
#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>
#include <QtCore/QVariant>

#include <mutex>

class QWebEnginePage;
class VmsWebWidgets;

namespace TestSupport {

// The test page that records every push call and can call the bridge.
QUrl bridgePageUrl();

// Opens url in w and waits for loadFinished; true when it loaded.
bool loadPage(VmsWebWidgets& w, const QUrl& url, int timeoutMs = 30000);
// Opens the bridge page and waits until the page holds "CWebComm".
bool loadBridgePage(VmsWebWidgets& w, int timeoutMs = 30000);
// The page shown by w.
QWebEnginePage* pageOf(VmsWebWidgets& w);

// Runs script in the page's main world and returns its value. An invalid
// QVariant when the page did not answer within timeoutMs.
QVariant evalJs(QWebEnginePage* page, const QString& script, int timeoutMs = 10000);
// Waits until the JavaScript expression is truthy.
bool waitForJs(QWebEnginePage* page, const QString& expression, int timeoutMs = 10000);

// Calls a bridge method from the page with args (JSON-serialisable) and
// returns its result; ok tells whether an answer came within timeoutMs.
QVariant callBridge(QWebEnginePage* page, const QString& method, const QVariantList& args,
                    bool* ok = nullptr, int timeoutMs = 10000);
// Starts the call and returns its id at once, for calls that block in a
// modal loop; fetch the result with bridgeResult().
int startBridgeCall(QWebEnginePage* page, const QString& method, const QVariantList& args);
QVariant bridgeResult(QWebEnginePage* page, int id, bool* ok = nullptr, int timeoutMs = 10000);

// The push calls recorded by the bridge page: [{fn, args: [...]}, ...].
QJsonArray pageCalls(QWebEnginePage* page);
// Waits until the page has recorded at least count calls.
bool waitForPageCalls(QWebEnginePage* page, int count, int timeoutMs = 10000);
void clearPageCalls(QWebEnginePage* page);

// Records what the host receives through emitFuncInfoCenterNotify (the host
// notices) while alive; connected directly, as a host must.
struct HostNotices {
    HostNotices();
    ~HostNotices();
    HostNotices(const HostNotices&) = delete;
    HostNotices& operator=(const HostNotices&) = delete;

    QStringList texts;
    QMetaObject::Connection connection;
};

// Records what the host receives through emitFuncWebNotify while alive.
struct HostNotifications {
    HostNotifications();
    ~HostNotifications();
    HostNotifications(const HostNotifications&) = delete;
    HostNotifications& operator=(const HostNotifications&) = delete;

    QStringList msgs;
    QStringList sns;
    QMetaObject::Connection connection;
};

// Small file helpers: write (creating the folder), read ("<unreadable>" when
// the file cannot be read).
bool writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// Every regular file under dir (hidden ones too), relative to it, sorted.
QStringList filesUnder(const QString& dir);
// A string as the debug stream quotes it (quotes and backslashes escaped).
QString debugQuoted(QString s);

// Captures Qt's message output while alive and restores the previous handler
// afterwards. Thread-safe: messages may come from any thread. A line of a
// category other than "default" reads "<category>: <text>".
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    QStringList debugLines() const;
    QStringList warningLines() const;
    bool contains(const QString& line) const;
    void clear();

private:
    struct Entry {
        QtMsgType type;
        QString text;
    };
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
    QList<Entry> entries() const;

    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
    QtMessageHandler m_previous = nullptr;
    static LogCapture* s_current;
};

} // namespace TestSupport
