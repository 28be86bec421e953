#pragma once

// Internal to the module: what a hosted page can use of the browser beyond
// the bridge (new windows, the context menu, printing and PDF, full screen,
// the skin's colours, lines for blocked requests). One PageBrowser per web
// widget, a child of its page; it reports to the host through PageEvents.

#include "VmsWebWidgets.h"

#include <QtCore/QList>
#include <QtCore/QMargins>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <functional>

class QWebEngineFullScreenRequest;
class QWebEngineNewWindowRequest;
class QWebEnginePage;
class QWidget;

namespace TaviWebModuleInternal {

class PageBrowser : public QObject
{
    Q_OBJECT
public:
    // A child of page, for the page shown in view.
    PageBrowser(QWebEnginePage* page, MyWebEngineView* view);
    ~PageBrowser() override;
    static PageBrowser* of(const QWebEnginePage* page);

    // The page's wrapped window.open asks before any window exists: msg is
    // the question when it carries this page's key.
    bool isOpenQuestion(const QString& msg) const { return msg == m_secret; }
    // True, and *result "open", when a host window is to show url.
    bool answerOpen(const QUrl& url, QString* result);
    // Qt's request for a new window: opened where the answer to window.open
    // said, or answered now (a link or form with a target). True when a
    // host's web widget took it.
    bool newWindow(QWebEngineNewWindowRequest& request);

    bool isFullScreen() const { return m_fullScreen.active; }
    void exitFullScreen();

    // The page as PDF, written durably to path (judged already); done gets
    // the outcome ("written" or "failed") and why it failed. No call of done
    // when the page goes first.
    using PdfDone = std::function<void(bool written, const QString& why)>;
    void saveAsPdf(const QString& path, const PdfDone& done);

    // A line for an engine console message that tells of a blocked request;
    // true when message was one.
    bool reportBlocked(const QString& message, const QString& sourceID);

private:
    VmsWebWidgets::NewWindowAnswer ask(const QUrl& url, VmsWebWidgets** target);
    void contextMenu(const QPoint& pos);
    void print();
    void fullScreenRequested(QWebEngineFullScreenRequest request);
    void enterFullScreen();
    void leaveFullScreen();

    QWebEnginePage* m_page;
    QPointer<MyWebEngineView> m_view;
    QString m_secret;
    // Host windows answered for window.open and not opened yet.
    struct PendingWindow
    {
        QUrl url;
        QPointer<VmsWebWidgets> target;
    };
    QList<PendingWindow> m_pendingWindows;
    // Where the view was before it filled the screen.
    struct FullScreenPlace
    {
        bool active = false;
        QPointer<QWidget> parent;
        int index = -1; // in the parent's box layout
        int stretch = 0;
        Qt::Alignment alignment;
        QRect geometry;
        QSize minimum, maximum;
    } m_fullScreen;
    bool m_printing = false;
};

} // namespace TaviWebModuleInternal
