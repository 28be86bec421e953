#include "TestSupport.h"

#include "HostWindow.h"

#include <QtCore/QDeadlineTimer>
#include <QtCore/QDirIterator>
#include <QtCore/QEventLoop>
#include <QtGui/QAccessible>
#include <QtGui/QImage>
#include <QtWebEngineCore/QWebEngineProfile>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

bool clickInPage(VmsWebWidgets& w, const QPoint& pos, Qt::MouseButton button)
{
    // The engine takes input on the widget it renders into, not on the view.
    QWidget* target = w.view() ? w.view()->focusProxy() : nullptr;
    if (!target)
        return false;
    QTest::mouseClick(target, button, {}, pos);
    return true;
}

bool loadPage(VmsWebWidgets& w, const QUrl& url, int timeoutMs)
{
    QWebEnginePage* page = pageOf(w);
    if (!page)
        return false;
    QSignalSpy spy(page, &QWebEnginePage::loadFinished);
    w.OpenUrl(url.toString());
    return spy.wait(timeoutMs) && spy.constFirst().constFirst().toBool();
}

bool loadBridgePage(VmsWebWidgets& w, int timeoutMs)
{
    QSignalSpy connected(&w, &VmsWebWidgets::bridgeConnected);
    return loadPage(w, bridgePageUrl(), timeoutMs)
        && (!connected.isEmpty() || connected.wait(timeoutMs));
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
        *state = { true, value };
        if (guard)
            guard->quit();
    });
    if (!state->first) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return state->second;
}

bool waitForJs(QWebEnginePage* page, const QString& expression, int timeoutMs)
{
    // The engine never answers a script sent while its document is being
    // replaced (a reload, a renderer restarting): each try waits this long
    // at most, not the whole time given.
    constexpr qint64 kTryMs = 3000;
    QDeadlineTimer deadline(timeoutMs);
    const QString script = QStringLiteral("!!(%1)").arg(expression);
    while (!deadline.hasExpired()) {
        if (evalJs(page, script, int(qBound<qint64>(1, deadline.remainingTime(), kTryMs))).toBool())
            return true;
        QTest::qWait(5);
    }
    return false;
}

int startBridgeCall(QWebEnginePage* page, const QString& method, const QVariantList& args)
{
    static int nextId = 0;
    const int id = ++nextId;
    const QJsonArray call { method, QJsonArray::fromVariantList(args) };
    // Fire and forget: the bridge answers later into window.results.
    page->runJavaScript(
        QStringLiteral("window.callBridge(%1, ...%2)")
            .arg(id)
            .arg(QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact))));
    return id;
}

QVariant bridgeResult(QWebEnginePage* page, int id, bool* ok, int timeoutMs)
{
    const QString key = QStringLiteral("window.results[%1]").arg(id);
    const bool answered = waitForJs(page, key + QStringLiteral(" !== undefined"), timeoutMs);
    if (ok)
        *ok = answered;
    return answered ? evalJs(page, key + QStringLiteral(".value")) : QVariant();
}

QVariant callBridge(QWebEnginePage* page, const QString& method, const QVariantList& args, bool* ok,
                    int timeoutMs)
{
    return bridgeResult(page, startBridgeCall(page, method, args), ok, timeoutMs);
}

QVariantList loopBridgeCall(QWebEnginePage* page, const QString& method, const QVariantList& args,
                            int runMs, bool* ok)
{
    const QString argsJson = QString::fromUtf8(
        QJsonDocument(QJsonArray::fromVariantList(args)).toJson(QJsonDocument::Compact));
    const QString script = QStringLiteral(R"JS(window.loop = { results: [], done: false };
        (function next(start) {
            if (Date.now() - start >= %3) return void (window.loop.done = true);
            window.bridge['%1'](...%2, (v) => { window.loop.results.push(v); next(start); });
        })(Date.now()); true)JS")
                               .arg(method, argsJson)
                               .arg(runMs);
    *ok = evalJs(page, script).toBool() && waitForJs(page, "window.loop.done", runMs + 60000);
    return *ok ? evalJs(page, "window.loop.results").toList() : QVariantList();
}

QString downloadLinkScript(const QString& href)
{
    return QStringLiteral("var a = document.createElement('a'); a.href = '%1'; a.download = '';"
                          " document.body.appendChild(a); a.click(); true")
        .arg(href);
}

DownloadRequests::DownloadRequests(std::function<void(QWebEngineDownloadRequest*)> first)
{
    m_connection = QObject::connect(QWebEngineProfile::defaultProfile(),
                                    &QWebEngineProfile::downloadRequested,
                                    [this, first](QWebEngineDownloadRequest* r) {
                                        if (first)
                                            first(r);
                                        list << r;
                                    });
}

bool DownloadRequests::oneCompleted()
{
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && (list.isEmpty() || (list[0] && !list[0]->isFinished())))
        QTest::qWait(20);
    return list.size() == 1 && list[0]
        && list[0]->state() == QWebEngineDownloadRequest::DownloadCompleted;
}

QVariant metaCall(QObject* object, const char* signature, QVariantList args)
{
    const QMetaMethod m = object->metaObject()->method(
        object->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(signature)));
    QVariant result
        = m.returnMetaType().id() == QMetaType::Void ? QVariant() : QVariant(m.returnMetaType());
    QGenericArgument a[10];
    for (int i = 0; i < args.size(); ++i) {
        args[i].convert(m.parameterMetaType(i));
        a[i] = QGenericArgument(args[i].typeName(), args[i].constData());
    }
    m.invoke(object, Qt::DirectConnection,
             QGenericReturnArgument(result.typeName(), result.isValid() ? result.data() : nullptr),
             a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    return result;
}

QString pageCalls(QWebEnginePage* page, int count)
{
    if (!waitForJs(page, QStringLiteral("window.calls.length >= %1").arg(count)))
        return QStringLiteral("<fewer than %1 calls>").arg(count);
    const QString text = evalJs(page, QStringLiteral("JSON.stringify(window.calls)")).toString();
    return QString::fromUtf8(QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact));
}

void clearPageCalls(QWebEnginePage* page)
{
    evalJs(page, QStringLiteral("window.calls = []; true"));
}

QString callsText(const QList<std::pair<QString, QStringList>>& calls)
{
    QJsonArray out;
    for (const auto& [fn, args] : calls)
        out.append(QJsonObject { { "fn", fn }, { "args", QJsonArray::fromStringList(args) } });
    return QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Compact));
}

// ---- Host side --------------------------------------------------------------

QString tipText(const QString& path, const QString& suffix)
{
    return QStringLiteral("{\n    \"cmd\": \"showTip\",\n    \"data\": {\n        \"suffix\": "
                          "\"%1\",\n        \"text\": \"%2\",\n        \"type\": \"file\"\n    "
                          "}\n}\n")
        .arg(suffix, path);
}

HostRecorder::HostRecorder(Answer answer)
{
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    m_connections << QObject::connect(dc, &WebViewDataCenter::emitFuncInfoCenterNotify,
                                      [this](QString& text) {
                                          std::lock_guard<std::mutex> lock(m_mutex);
                                          m_notices << text;
                                      })
                  << QObject::connect(dc, &WebViewDataCenter::emitFuncWebNotify,
                                      [this, answer](QString& msg, QString& sn) {
                                          {
                                              std::lock_guard<std::mutex> lock(m_mutex);
                                              m_msgs << msg;
                                              m_sns << sn;
                                          }
                                          if (answer)
                                              answer(msg, sn);
                                      });
}

HostRecorder::~HostRecorder()
{
    for (const QMetaObject::Connection& c : std::as_const(m_connections))
        QObject::disconnect(c);
}

// ---- Files ------------------------------------------------------------------

ScratchDir::ScratchDir()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(path());
}

ScratchDir::~ScratchDir()
{
    QDir::setCurrent(m_previous);
}

QString ScratchDir::fill(QString text) const
{
    return text.replace(QStringLiteral("{D\\}"), QString(path()).replace('/', '\\'))
        .replace(QStringLiteral("{D}"), path());
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
    return QLatin1Char('"') + s.replace("\\", "\\\\").replace("\"", "\\\"") + QLatin1Char('"');
}

void chooseInDialog(QFileDialog* dialog, const QString& path)
{
    const bool folder = dialog->fileMode() == QFileDialog::Directory;
    dialog->setDirectory(folder ? path : QFileInfo(path).absolutePath());
    // Typed into the name field: selectFile() leaves a focused field alone.
    if (auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        nameField->setText(folder ? QString() : QFileInfo(path).fileName());
    static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it; its checks still run
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
    : m_previousHandler(std::signal(SIGXFSZ, SIG_IGN))
{
    getrlimit(RLIMIT_FSIZE, &m_previous);
    rlimit limit = m_previous;
    limit.rlim_cur = bytes;
    m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_previous);
    std::signal(SIGXFSZ, m_previousHandler);
}

// ---- LogCapture -------------------------------------------------------------

LogCapture* LogCapture::s_current = nullptr;
QLoggingCategory::CategoryFilter LogCapture::s_filterBelow = nullptr;

LogCapture::LogCapture(Verbosity verbosity)
    : m_moduleDebug(verbosity == ModuleDebug)
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
    if (m_moduleDebug) {
        m_previousFilter = QLoggingCategory::installFilter(&LogCapture::moduleDebugFilter);
        // A capture inside another finds its own filter there: chaining to
        // it would recurse without end.
        if (m_previousFilter != &LogCapture::moduleDebugFilter)
            s_filterBelow = m_previousFilter;
    }
}

LogCapture::~LogCapture()
{
    // Back to the rules' own verdict for every category.
    if (m_moduleDebug)
        QLoggingCategory::installFilter(m_previousFilter);
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogCapture::moduleDebugFilter(QLoggingCategory* category)
{
    if (s_filterBelow)
        s_filterBelow(category);
    if (qstrcmp(category->categoryName(), "tavi.webmodule") == 0)
        category->setEnabled(QtDebugMsg, true);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    LogCapture* self = s_current;
    if (!self)
        return;
    // Lines of a category of their own carry its name, so that a test sees
    // the channel as well as the text.
    const bool ownCategory = context.category && qstrcmp(context.category, "default") != 0;
    const QString line
        = ownCategory ? QString::fromLatin1(context.category) + QLatin1String(": ") + msg : msg;
    std::function<void(const QString&)> observer;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_entries.append({ type, line });
        observer = self->m_observer;
    }
    if (observer)
        observer(line);
    // Warnings still reach the test runner, so QTest::ignoreMessage keeps working.
    if (type != QtDebugMsg && type != QtInfoMsg && self->m_previous)
        self->m_previous(type, context, msg);
}

void LogCapture::observe(std::function<void(const QString& line)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

QStringList LogCapture::lines(bool debugOnly) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList out;
    for (const auto& [type, text] : m_entries)
        if (!debugOnly || type == QtDebugMsg)
            out << text;
    return out;
}

int LogCapture::dropped(const QString& about, int perSecond, const char* kind) const
{
    // What follows may name the sources none of whose lines was logged.
    const QRegularExpression count(
        QStringLiteral("^tavi\\.webmodule: Dropped (\\d+) %1 about %2 \\(at most %3 a second\\)")
            .arg(QLatin1String(kind), QRegularExpression::escape(about))
            .arg(perSecond));
    int sum = 0;
    for (const QString& line : lines())
        if (const QRegularExpressionMatch m = count.match(line); m.hasMatch())
            sum += m.captured(1).toInt();
    return sum;
}

NameSwapper::NameSwapper(const QString& a, const QString& b)
    : m_a(QFile::encodeName(a))
    , m_b(QFile::encodeName(b))
{
    m_thread = std::thread([this] {
        while (!m_stop) {
            if (::renameat2(AT_FDCWD, m_a.constData(), AT_FDCWD, m_b.constData(), RENAME_EXCHANGE)
                != 0) {
                m_swaps = -1;
                return;
            }
            ++m_swaps;
        }
    });
    // The race is on once the constructor returns.
    while (m_swaps == 0)
        std::this_thread::yield();
}

NameSwapper::~NameSwapper()
{
    m_stop = true;
    m_thread.join();
    if (m_swaps > 0 && m_swaps % 2 == 1)
        ::renameat2(AT_FDCWD, m_a.constData(), AT_FDCWD, m_b.constData(), RENAME_EXCHANGE);
}

namespace {

void collectUnnamed(QAccessibleInterface* node, QStringList& out)
{
    static const QList<QAccessible::Role> controls
        = { QAccessible::Button,   QAccessible::PushButton, QAccessible::CheckBox,
            QAccessible::Slider,   QAccessible::Graphic,    QAccessible::StaticText,
            QAccessible::Dialog,   QAccessible::Window,     QAccessible::EditableText,
            QAccessible::ComboBox, QAccessible::SpinBox,    QAccessible::RadioButton };
    if (!node || node->state().invisible)
        return;
    if (controls.contains(node->role()) && node->text(QAccessible::Name).trimmed().isEmpty()) {
        const QObject* object = node->object();
        out << QStringLiteral("%1 %2")
                   .arg(int(node->role()))
                   .arg(object ? object->objectName() : QString());
    }
    for (int i = 0; i < node->childCount(); ++i)
        collectUnnamed(node->child(i), out);
}

} // namespace

QStringList unnamedControls(QWidget* window)
{
    QStringList out;
    collectUnnamed(QAccessible::queryAccessibleInterface(window), out);
    return out;
}

double edgeShare(QWidget* control, const QColor& colour, int width)
{
    // The whole picture less its inside: what is left is the ring.
    const QImage image = control->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect inside = image.rect().adjusted(width, width, -width, -width);
    const double all = double(image.width()) * image.height();
    const double in = inside.isValid() ? double(inside.width()) * inside.height() : 0;
    if (all <= in)
        return 0;
    return (shareOf(image, image.rect(), colour, 24) * all
            - shareOf(image, inside, colour, 24) * in)
        / (all - in);
}

} // namespace TestSupport
