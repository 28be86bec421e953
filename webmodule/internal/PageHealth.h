#pragma once

// Internal to the module: whether a hosted page's main thread still answers,
// and the figures of its health. A side object of the web widget. It asks
// the page a trivial question (in a world of its own) each tick and tells
// unresponsive() when one stays unanswered for the page's time-out, and
// responsive() with how long it was gone once the page answers again. Not
// judged: while the page loads, while its view is hidden, while a modal
// dialog is open (a JavaScript alert holds the page's thread so), while the
// page is frozen or has no renderer, and for a tick in which the GUI thread
// itself was held (the answer may be waiting behind it). An answer also
// tells the page's PagePush that everything sent before the question has
// run. GUI thread only.

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtWidgets/QWidget>

class QWebEnginePage;

namespace TaviWebModuleInternal {

class PagePush;

class PageHealth : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 5000;

    // A child of owner (the web widget).
    PageHealth(QWebEnginePage* page, QWidget* view, PagePush* push, QObject* owner);

    // < 0: the default.
    void setTimeoutMs(int ms);
    int timeoutMs() const { return m_timeoutMs; }
    // 0: never.
    void setRecoveryMs(int ms) { m_recoveryMs = qMax(0, ms); }
    int recoveryMs() const { return m_recoveryMs; }

    bool answering() const { return !m_unresponsive; }
    // Since the page last answered (or, before its first answer, since the
    // widget began), in ms.
    qint64 msSinceAnswer() const { return m_clock.elapsed() - m_answeredAt; }

    quint64 bridgeCalls() const { return m_bridgeCalls; }
    quint64 refusals() const { return m_refusals; }
    // One bridge call of the page that bridge serves.
    static void countBridgeCall(const QObject* bridge);

Q_SIGNALS:
    void unresponsive(int silentMs);
    void responsive(int goneMs);
    // The page has not answered for the recovery time: restart its renderer.
    void recoveryDue();

private:
    void tick();
    bool judged() const;
    void answered(quint64 probe, quint64 sequence);
    void forgetProbe() { ++m_probe, m_askedAt = -1; }

    QPointer<QWebEnginePage> m_page;
    QPointer<QWidget> m_view;
    QPointer<PagePush> m_push;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_timeoutMs = kDefaultTimeoutMs;
    int m_recoveryMs = 0;
    bool m_loading = false;
    bool m_unresponsive = false;
    bool m_recoveryTold = false;
    quint64 m_probe = 0; // the question asked; older answers are ignored
    qint64 m_askedAt = -1; // when it was asked; -1: none waits
    qint64 m_goneSince = 0;
    qint64 m_answeredAt = 0;
    qint64 m_lastTick = 0;
    quint64 m_bridgeCalls = 0;
    quint64 m_refusals = 0;
};

} // namespace TaviWebModuleInternal
