#include "TestSupport.h"

#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QEventLoop>
#include <QtCore/QJsonDocument>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtTest/QSignalSpy>
#include <QtWebEngineCore/QWebEnginePage>

#include <memory>

namespace {
// Qt WebEngine wants shared GL contexts before the application object exists.
const bool s_sharedContexts = [] {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}();
} // namespace

namespace TestSupport {

QUrl bridgePageUrl()
{
    return QUrl(QStringLiteral("qrc:/tests/bridge.html"));
}

QWebEnginePage* pageOf(VmsWebWidgets& w)
{
    return w.view() ? w.view()->page() : nullptr;
}

bool loadPage(VmsWebWidgets& w, const QUrl& url, int timeoutMs)
{
    QWebEnginePage* page = pageOf(w);
    if (!page)
        return false;
    QSignalSpy spy(page, &QWebEnginePage::loadFinished);
    w.OpenUrl(url.toString());
    if (!spy.wait(timeoutMs))
        return false;
    return spy.constFirst().constFirst().toBool();
}

bool loadBridgePage(VmsWebWidgets& w, int timeoutMs)
{
    return loadPage(w, bridgePageUrl(), timeoutMs)
        && waitForJs(pageOf(w), QStringLiteral("window.bridgeReady === true"), timeoutMs);
}

QVariant evalJs(QWebEnginePage* page, const QString& script, int timeoutMs)
{
    if (!page)
        return QVariant();
    // Shared with the callback, which may outlive this call after a time-out.
    auto state = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    page->runJavaScript(script, [state, guard](const QVariant& value) {
        state->first = true;
        state->second = value;
        if (guard)
            guard->quit();
    });
    if (!state->first) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return state->first ? state->second : QVariant();
}

bool waitForJs(QWebEnginePage* page, const QString& expression, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    const QString script = QStringLiteral("!!(%1)").arg(expression);
    while (!deadline.hasExpired()) {
        if (evalJs(page, script, int(qMax<qint64>(1, deadline.remainingTime()))).toBool())
            return true;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

int startBridgeCall(QWebEnginePage* page, const QString& method, const QVariantList& args)
{
    static int nextId = 0;
    const int id = ++nextId;
    const QString json =
        QString::fromUtf8(QJsonDocument(QJsonArray::fromVariantList(args)).toJson(QJsonDocument::Compact));
    const QString methodJson = QString::fromUtf8(
        QJsonDocument(QJsonArray{method}).toJson(QJsonDocument::Compact));
    // Fire and forget: the bridge answers later into window.results.
    page->runJavaScript(QStringLiteral("window.callBridge(%1, %2[0], %3)")
                            .arg(QString::number(id), methodJson, json));
    return id;
}

QVariant bridgeResult(QWebEnginePage* page, int id, bool* ok, int timeoutMs)
{
    const QString key = QStringLiteral("window.results[%1]").arg(id);
    const bool answered = waitForJs(page, key + QStringLiteral(" !== undefined"), timeoutMs);
    if (ok)
        *ok = answered;
    if (!answered)
        return QVariant();
    return evalJs(page, key + QStringLiteral(".value"));
}

QVariant callBridge(QWebEnginePage* page, const QString& method, const QVariantList& args,
                    bool* ok, int timeoutMs)
{
    return bridgeResult(page, startBridgeCall(page, method, args), ok, timeoutMs);
}

QJsonArray pageCalls(QWebEnginePage* page)
{
    const QString text = evalJs(page, QStringLiteral("JSON.stringify(window.calls)")).toString();
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

bool waitForPageCalls(QWebEnginePage* page, int count, int timeoutMs)
{
    return waitForJs(page, QStringLiteral("window.calls.length >= %1").arg(count), timeoutMs);
}

void clearPageCalls(QWebEnginePage* page)
{
    evalJs(page, QStringLiteral("window.calls = []; true"));
}

// ---- Host side and files ----------------------------------------------------

HostNotices::HostNotices()
{
    connection = QObject::connect(
        WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitFuncInfoCenterNotify,
        [this](QString& text) { texts << text; });
}

HostNotices::~HostNotices()
{
    QObject::disconnect(connection);
}

HostNotifications::HostNotifications()
{
    connection = QObject::connect(
        WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitFuncWebNotify,
        [this](QString& msg, QString& sn) {
            msgs << msg;
            sns << sn;
        });
}

HostNotifications::~HostNotifications()
{
    QObject::disconnect(connection);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList filesUnder(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

QString debugQuoted(QString s)
{
    return QLatin1Char('"') + s.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
                                  .replace(QLatin1Char('"'), QLatin1String("\\\""))
        + QLatin1Char('"');
}

// ---- LogCapture -------------------------------------------------------------

LogCapture* LogCapture::s_current = nullptr;

LogCapture::LogCapture()
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    LogCapture* self = s_current;
    if (!self)
        return;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        // Lines of a category of their own carry its name, so that a test
        // sees the channel as well as the text.
        const bool ownCategory = context.category && qstrcmp(context.category, "default") != 0;
        self->m_entries.append(
            { type, ownCategory ? QString::fromLatin1(context.category) + QLatin1String(": ") + msg : msg });
    }
    // Warnings still reach the test runner, so QTest::ignoreMessage keeps working.
    if (type != QtDebugMsg && type != QtInfoMsg && self->m_previous)
        self->m_previous(type, context, msg);
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

QStringList LogCapture::lines() const
{
    QStringList out;
    for (const Entry& e : entries())
        out << e.text;
    return out;
}

QStringList LogCapture::debugLines() const
{
    QStringList out;
    for (const Entry& e : entries())
        if (e.type == QtDebugMsg)
            out << e.text;
    return out;
}

QStringList LogCapture::warningLines() const
{
    QStringList out;
    for (const Entry& e : entries())
        if (e.type == QtWarningMsg)
            out << e.text;
    return out;
}

bool LogCapture::contains(const QString& line) const
{
    return lines().contains(line);
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

} // namespace TestSupport
