#include "PageBrowser.h"

#include "BlockingBudget.h"
#include "BridgeAccess.h"
#include "FileWriter.h"
#include "LogText.h"
#include "Logging.h"
#include "MakePath.h"
#include "PageEvents.h"
#include "PagePolicy.h"
#include "SideObject.h"
#include "WarningBudget.h"
#include "WebAccessPolicy.h"
#include "WebPage.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QThreadPool>
#include <QtCore/QUuid>
#include <QtGui/QAction>
#include <QtGui/QColor>
#include <QtGui/QDesktopServices>
#include <QtGui/QGuiApplication>
#include <QtGui/QPageLayout>
#include <QtGui/QPageSize>
#include <QtGui/QScreen>
#include <QtPrintSupport/QPrintDialog>
#include <QtPrintSupport/QPrinter>
#include <QtWebEngineCore/QWebEngineContextMenuRequest>
#include <QtWebEngineCore/QWebEngineFullScreenRequest>
#include <QtWebEngineCore/QWebEngineNewWindowRequest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineScript>
#include <QtWebEngineCore/QWebEngineScriptCollection>
#include <QtWebEngineCore/QWebEngineSettings>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QMenu>
#include <SkinMgr.h>

namespace TaviWebModuleInternal {

namespace {

// Wraps window.open so that a refused window gives the page null, as
// browsers do: the answer must be there before the engine hands the page a
// window, and prompt() is the one call that waits for the host. The key
// stays in the closure; a page calling prompt() itself never has it.
const char kOpenScript[] = R"JS((function () {
    'use strict';
    var real = window.open, ask = window.prompt, key = '%1';
    window.open = function open(url) {
        var href = 'about:blank';
        try {
            if (url !== undefined && url !== null && String(url) !== '')
                href = new URL(String(url), document.baseURI).href;
        } catch (e) {
            return real.apply(window, arguments);
        }
        if (ask.call(window, key, href) !== 'open')
            return null;
        return real.apply(window, arguments);
    };
})();)JS";

// The skin's colours as custom properties, with the colour scheme they make;
// at zero specificity, so a page's own colours always win.
const char kSkinScript[] = R"JS((function () {
    'use strict';
    try {
        var sheet = new CSSStyleSheet();
        sheet.replaceSync('%1');
        document.adoptedStyleSheets = document.adoptedStyleSheets.concat([sheet]);
    } catch (e) {}
})();)JS";

QString cssColour(const QString& text)
{
    const QColor c = QColor::fromString(text);
    if (!c.isValid())
        return QString();
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(QString::number(c.alphaF(), 'g', 3));
}

QString skinStyle()
{
    const SkinMgr* skin = taviSkinMgr();
    const QList<std::pair<const char*, QString>> colours {
        { "--tavi-background", skin->dlgBackgroundColor() },
        { "--tavi-page", skin->webPageSolid() },
        { "--tavi-panel", skin->themeThirdColor() },
        { "--tavi-field", skin->lineEditColor() },
        { "--tavi-text", skin->oneLevelTextColor() },
        { "--tavi-border", skin->dlgBorderColor() },
        { "--tavi-accent", skin->hoverRedColor() },
    };
    QString css = QStringLiteral(":where(:root){");
    for (const auto& [name, text] : colours) {
        const QString value = cssColour(text);
        if (!value.isEmpty())
            css += QStringLiteral("%1:%2;").arg(QLatin1String(name), value);
    }
    const QColor background = QColor::fromString(skin->dlgBackgroundColor());
    if (background.isValid())
        css += QStringLiteral("color-scheme:%1;background-color:var(--tavi-background);")
                   .arg(background.lightness() < 128 ? QLatin1String("dark")
                                                     : QLatin1String("light"));
    if (QColor::fromString(skin->oneLevelTextColor()).isValid())
        css += QStringLiteral("color:var(--tavi-text);");
    return css + QLatin1Char('}');
}

void addScript(QWebEnginePage* page, const char* name, const QString& source)
{
    QWebEngineScript script;
    script.setName(QLatin1String(name));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(source);
    page->scripts().insert(script);
}

// DevTools are on when the engine listens for them.
bool devToolsOn(const QWebEnginePage* page)
{
    const QString flags = qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS")
        + QCoreApplication::arguments().join(QLatin1Char(' '));
    return page->devToolsPage() || qEnvironmentVariableIsSet("QTWEBENGINE_REMOTE_DEBUGGING")
        || flags.contains(QLatin1String("--remote-debugging-port"));
}

// A file of folder not there yet: name, or "name (n).pdf".
QString unusedPdfName(const QString& folder, const QString& base)
{
    QString path = QStringLiteral("%1/%2.pdf").arg(folder, base);
    for (int i = 1; QFileInfo::exists(path); ++i)
        path = QStringLiteral("%1/%2 (%3).pdf").arg(folder, base, QString::number(i));
    return path;
}

} // namespace

PageBrowser::PageBrowser(QWebEnginePage* page, MyWebEngineView* view)
    : QObject(page)
    , m_page(page)
    , m_view(view)
    , m_secret(QStringLiteral("tavi-open:") + QUuid::createUuid().toString(QUuid::Id128))
{
    addScript(page, "tavi-window-open", QString::fromLatin1(kOpenScript).arg(m_secret));
    QString style = skinStyle();
    style.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"));
    addScript(page, "tavi-skin-colours", QString::fromLatin1(kSkinScript).arg(style));

    page->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    connect(page, &QWebEnginePage::fullScreenRequested, this, &PageBrowser::fullScreenRequested);
    connect(page, &QWebEnginePage::printRequested, this, &PageBrowser::print);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // A frame's window.print() prints the page, as the main frame's does.
    connect(page, &QWebEnginePage::printRequestedByFrame, this, [this] { print(); });
#endif
    // A window answered for window.open that never came belongs to the old document.
    connect(page, &QWebEnginePage::loadStarted, this, [this] { m_pendingWindows.clear(); });

    if (view) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, &PageBrowser::contextMenu);
        // Only while in full screen: the page has Esc otherwise.
        auto* leave = new QAction(view);
        leave->setObjectName(QStringLiteral("tavi-leave-full-screen"));
        leave->setShortcut(Qt::Key_Escape);
        leave->setShortcutContext(Qt::WindowShortcut);
        leave->setEnabled(false);
        connect(leave, &QAction::triggered, this, &PageBrowser::exitFullScreen);
        view->addAction(leave);
    }
}

PageBrowser::~PageBrowser() = default;

PageBrowser* PageBrowser::of(const QWebEnginePage* page)
{
    return sideObject<PageBrowser>(page);
}

// ---- New windows ---------------------------------------------------------------

bool PageBrowser::answerOpen(const QUrl& url, QString* result)
{
    VmsWebWidgets* target = nullptr;
    if (ask(url, &target) != VmsWebWidgets::OpenInHostWindow)
        return false;
    m_pendingWindows.append({ url, target });
    *result = QStringLiteral("open");
    return true;
}

bool PageBrowser::newWindow(QWebEngineNewWindowRequest& request)
{
    const QUrl url = request.requestedUrl();
    VmsWebWidgets* target = nullptr;
    const auto pending = std::find_if(m_pendingWindows.begin(), m_pendingWindows.end(),
                                      [&url](const PendingWindow& p) { return p.url == url; });
    if (pending != m_pendingWindows.end()) {
        target = pending->target;
        m_pendingWindows.erase(pending);
    } else if (ask(url, &target) != VmsWebWidgets::OpenInHostWindow) {
        return false;
    }
    if (!target || !target->view())
        return false;
    request.openIn(target->view()->page());
    return true;
}

VmsWebWidgets::NewWindowAnswer PageBrowser::ask(const QUrl& url, VmsWebWidgets** target)
{
    auto answer = VmsWebWidgets::RefuseNewWindow;
    *target = nullptr;
    if (PageEvents* events = PageEvents::of(m_page))
        Q_EMIT events->newWindowRequested(url, &answer, target);
    const QString shown = escapeForLog(url.toString());
    QString why;
    if (answer == VmsWebWidgets::OpenInHostWindow
        && (!*target || !(*target)->view() || (*target)->view()->page() == m_page))
        why = QStringLiteral("the host gave no new web widget for it");
    // The desktop opens what it is handed: only web and mail addresses go there.
    if (answer == VmsWebWidgets::OpenInSystemBrowser) {
        const QString scheme = url.scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https")
            && scheme != QLatin1String("mailto"))
            why = QStringLiteral("the system browser opens only http, https and mailto");
        else if (!QDesktopServices::openUrl(url))
            why = QStringLiteral("the system browser did not open it");
        else
            return answer;
    }
    if (answer == VmsWebWidgets::RefuseNewWindow)
        why = QStringLiteral("the host did not open it");
    if (why.isEmpty())
        return answer;
    if (mayWarn(m_page, QStringLiteral("new windows")))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Refused a new window to %1: %2").arg(shown, why);
    *target = nullptr;
    // System browser: done there, and the page gets null as for a refusal.
    return VmsWebWidgets::RefuseNewWindow;
}

// ---- Context menu --------------------------------------------------------------

void PageBrowser::contextMenu(const QPoint& pos)
{
    QWebEngineContextMenuRequest* request = m_view ? m_view->lastContextMenuRequest() : nullptr;
    if (!request)
        return;
    const QPoint global = m_view->mapToGlobal(request->position());
    Q_UNUSED(pos);
    bool handled = false;
    if (PageEvents* events = PageEvents::of(m_page))
        Q_EMIT events->contextMenuRequested(global, &handled);
    if (handled || !m_view)
        return;
    const auto flags = request->editFlags();
    auto* menu = new QMenu(m_view);
    menu->setObjectName(QStringLiteral("tavi-context-menu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto add = [this, menu](QWebEnginePage::WebAction action, bool applies) {
        if (applies)
            menu->addAction(m_page->action(action)->text(), m_page,
                            [page = m_page, action] { page->triggerAction(action); });
    };
    const bool editable = request->isContentEditable();
    add(QWebEnginePage::Cut, editable && flags.testFlag(QWebEngineContextMenuRequest::CanCut));
    add(QWebEnginePage::Copy, flags.testFlag(QWebEngineContextMenuRequest::CanCopy));
    add(QWebEnginePage::Paste, editable && flags.testFlag(QWebEngineContextMenuRequest::CanPaste));
    add(QWebEnginePage::SelectAll, flags.testFlag(QWebEngineContextMenuRequest::CanSelectAll));
    if (devToolsOn(m_page)) {
        if (!menu->isEmpty())
            menu->addSeparator();
        add(QWebEnginePage::InspectElement, true);
    }
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(global);
}

// ---- Print and PDF -------------------------------------------------------------

void PageBrowser::print()
{
    bool handled = false;
    if (PageEvents* events = PageEvents::of(m_page))
        Q_EMIT events->printRequested(&handled);
    if (handled || m_printing || !m_view)
        return;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        // No one to answer a dialog: the page goes to a PDF file instead.
        const QString folder = CWebPage::m_strDownloadPath.isEmpty() ? QDir::homePath()
                                                                     : CWebPage::m_strDownloadPath;
        const QString path = unusedPdfName(
            folder,
            QStringLiteral("print-")
                + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        if (!mayWritePath(m_page, "print", path))
            return;
        m_printing = true;
        saveAsPdf(path, [this, path](bool written, const QString& why) {
            m_printing = false;
            if (written)
                qCInfo(lcWebModule).noquote() << QStringLiteral("Printed the page to %1").arg(path);
            else
                qCWarning(lcWebModule).noquote()
                    << QStringLiteral("Could not print the page to %1: %2").arg(path, why);
        });
        return;
    }
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    {
        // A page printing in a loop must not keep the dialog up.
        const ModalTurn turn(m_page, "print");
        if (turn.refused())
            return;
        QPrintDialog dialog(printer.get(), m_view);
        if (dialog.exec() != QDialog::Accepted || !m_view)
            return;
    }
    m_printing = true;
    connect(
        m_view, &QWebEngineView::printFinished, this,
        [this, printer](bool ok) {
            m_printing = false;
            if (!ok)
                qCWarning(lcWebModule) << "Printing the page failed";
        },
        Qt::SingleShotConnection);
    m_view->print(printer.get());
}

void PageBrowser::saveAsPdf(const QString& path, const PdfDone& done)
{
    const FileRoots roots = currentFileRoots(m_page);
    QPointer<PageBrowser> self(this);
    m_page->printToPdf(
        [self, path, roots, done](const QByteArray& pdf) {
            if (!self)
                return;
            if (pdf.isEmpty()) {
                done(false, QStringLiteral("the engine could not print the page"));
                return;
            }
            // Synced to the disk off the GUI thread; the outcome comes back there.
            QThreadPool::globalInstance()->start([self, path, roots, done, pdf] {
                if (!roots.restricted)
                    MakePath(QFileInfo(path).absolutePath());
                ReplacingFile file(rootedName(path, roots, RootAccess::Write, roots.restricted,
                                              /*followLink=*/true));
                const bool written
                    = file.open() && file.file().write(pdf) == pdf.size() && file.commit();
                const QString why = written ? QString() : file.errorString();
                QMetaObject::invokeMethod(qApp, [self, done, written, why] {
                    if (self)
                        done(written, why);
                });
            });
        },
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                    QPageLayout::Millimeter));
}

// ---- Full screen -----------------------------------------------------------------

void PageBrowser::fullScreenRequested(QWebEngineFullScreenRequest request)
{
    if (!request.toggleOn()) {
        request.accept();
        leaveFullScreen();
        return;
    }
    const WebAccessPolicy& policy = policyFor(m_page);
    if (!m_view || (policy.restrictsOrigins() && !policy.isTrusted(request.origin()))) {
        const QString origin = escapeForLog(originText(request.origin()));
        if (mayWarn(m_page, QStringLiteral("full screen for ") + origin))
            qCWarning(lcWebModule).noquote()
                << QStringLiteral("Refused full screen: %1 is not a trusted origin").arg(origin);
        request.reject();
        return;
    }
    request.accept();
    enterFullScreen();
}

void PageBrowser::exitFullScreen()
{
    if (m_fullScreen.active)
        m_page->triggerAction(QWebEnginePage::ExitFullScreen);
}

void PageBrowser::enterFullScreen()
{
    FullScreenPlace& place = m_fullScreen;
    MyWebEngineView* view = m_view;
    if (place.active || !view)
        return;
    place.parent = view->parentWidget();
    place.geometry = view->geometry();
    place.minimum = view->minimumSize();
    place.maximum = view->maximumSize();
    place.index = -1;
    if (auto* box = qobject_cast<QBoxLayout*>(place.parent ? place.parent->layout() : nullptr)) {
        place.index = box->indexOf(view);
        if (place.index >= 0) {
            place.stretch = box->stretch(place.index);
            place.alignment = box->itemAt(place.index)->alignment();
        }
    }
    QScreen* screen = view->screen();
    // The whole screen, not the host's tab: the view itself becomes the window.
    view->setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
    view->setMinimumSize(0, 0);
    view->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (screen)
        view->setGeometry(screen->geometry());
    view->showFullScreen();
    view->activateWindow();
    place.active = true;
    for (QAction* action : view->actions())
        if (action->objectName() == QLatin1String("tavi-leave-full-screen"))
            action->setEnabled(true);
    if (PageEvents* events = PageEvents::of(m_page))
        Q_EMIT events->fullScreenChanged(true);
}

void PageBrowser::leaveFullScreen()
{
    FullScreenPlace& place = m_fullScreen;
    MyWebEngineView* view = m_view;
    if (!place.active || !view)
        return;
    place.active = false;
    for (QAction* action : view->actions())
        if (action->objectName() == QLatin1String("tavi-leave-full-screen"))
            action->setEnabled(false);
    view->hide();
    view->setParent(place.parent, Qt::Widget | Qt::FramelessWindowHint);
    view->setMinimumSize(place.minimum);
    view->setMaximumSize(place.maximum);
    auto* box = qobject_cast<QBoxLayout*>(place.parent ? place.parent->layout() : nullptr);
    if (box && place.index >= 0)
        box->insertWidget(qMin(place.index, box->count()), view, place.stretch, place.alignment);
    else
        view->setGeometry(place.geometry);
    if (place.parent)
        view->show();
    if (PageEvents* events = PageEvents::of(m_page))
        Q_EMIT events->fullScreenChanged(false);
}

// ---- Blocked requests ------------------------------------------------------------

bool PageBrowser::reportBlocked(const QString& message, const QString& sourceID)
{
    static const QRegularExpression cors(
        QStringLiteral("^Access to \\S+ at '([^']+)' from origin '[^']*' has been blocked by "
                       "CORS policy: (.*)$"));
    static const QRegularExpression local(
        QStringLiteral("^Not allowed to load local resource: (\\S+)"));
    static const QRegularExpression mixed(QStringLiteral(
        "^Mixed Content: .* requested an insecure [^']*'([^']+)'\\. This (?:request|content) has "
        "been blocked"));
    static const QRegularExpression failed(QStringLiteral(
        "^Failed to load resource: net::(ERR_CERT_\\w+|ERR_SSL_\\w+|ERR_ACCESS_DENIED|"
        "ERR_BLOCKED_BY_CLIENT|ERR_BLOCKED_BY_RESPONSE)"));
    QString url, why;
    if (const auto m = cors.match(message); m.hasMatch()) {
        url = m.captured(1);
        why = QStringLiteral("CORS: ") + m.captured(2);
    } else if (const auto m = local.match(message); m.hasMatch()) {
        url = m.captured(1);
        why = QStringLiteral("access to local files denied");
    } else if (const auto m = mixed.match(message); m.hasMatch()) {
        url = m.captured(1);
        why = QStringLiteral("mixed content: an insecure request from a secure page");
    } else if (const auto m = failed.match(message); m.hasMatch()) {
        url = sourceID;
        const QString code = m.captured(1);
        why = code.startsWith(QLatin1String("ERR_CERT_"))
                || code.startsWith(QLatin1String("ERR_SSL_"))
            ? QStringLiteral("certificate refused (%1)").arg(code)
            : QStringLiteral("refused (%1)").arg(code);
    } else {
        return false;
    }
    if (mayWarn(m_page, QStringLiteral("blocked requests")))
        qCWarning(lcWebModule).noquote()
            << QStringLiteral("Page %1: request to %2 blocked: %3")
                   .arg(pageIdOf(m_page), escapeForLog(url), escapeForLog(why));
    return true;
}

} // namespace TaviWebModuleInternal
