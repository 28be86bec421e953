#include "TestSupport.h"

#include <SkinMgr.h>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebPage.h>

#include <QtCore/QPointer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFocusEvent>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QApplication>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include <memory>

using namespace TestSupport;

class TestVmsWebWidgets : public QObject
{
    Q_OBJECT
private slots:
    void constructionWiresViewPageChannelAndBridge();
    void sizeBeforeAnyLoadAppliesAtOnce();
    void sizeDuringLoadAppliesAtLoadFinished_data();
    void sizeDuringLoadAppliesAtLoadFinished();
    void loadWithoutSizeFixesViewAtZero();
    void setParentDoesNotReparentView();
    void closeEventIsIgnored();
    void focusRaisesAncestorWindowOnNextTurn_data();
    void focusRaisesAncestorWindowOnNextTurn();
    void destructionOrderAndParentSurvives();
    void parentDestroyedFirst();
};

void TestVmsWebWidgets::constructionWiresViewPageChannelAndBridge()
{
    QWidget parent;
    VmsWebWidgets w(&parent);

    QVERIFY(w.parent() == nullptr);
    MyWebEngineView* view = w.view();
    QVERIFY(view);
    QCOMPARE(view->parentWidget(), &parent);
    QVERIFY(!view->isHidden());
    QVERIFY(qobject_cast<CWebPage*>(view->page()));
    QVERIFY(view->page()->parent() == nullptr);
    QVERIFY(view->testAttribute(Qt::WA_DontCreateNativeAncestors));
    QVERIFY(view->testAttribute(Qt::WA_ShowWithoutActivating));
    QCOMPARE(view->focusPolicy(), Qt::NoFocus);
    QVERIFY(view->windowFlags().testFlag(Qt::FramelessWindowHint));

    const QColor skin = QColor::fromString(taviSkinMgr()->dlgBackgroundColor());
    QVERIFY(skin.isValid());
    QCOMPARE(view->palette().color(QPalette::Active, QPalette::Window), skin);
    QCOMPARE(view->palette().color(QPalette::Inactive, QPalette::Window), skin);
    QCOMPARE(view->page()->backgroundColor(), skin);

    QWebChannel* channel = view->page()->webChannel();
    QVERIFY(channel);
    QVERIFY(channel->parent() == nullptr);
    QObject* bridge = channel->registeredObjects().value(QStringLiteral("CWebComm"));
    QVERIFY(qobject_cast<CWebComm*>(bridge));
    QCOMPARE(bridge->parent(), &w);
}

void TestVmsWebWidgets::sizeBeforeAnyLoadAppliesAtOnce()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    w.setFixedSize(800, 600);
    QCOMPARE(w.view()->minimumSize(), QSize(800, 600));
    QCOMPARE(w.view()->maximumSize(), QSize(800, 600));
    QCOMPARE(w.view()->size(), QSize(800, 600));
}

void TestVmsWebWidgets::sizeDuringLoadAppliesAtLoadFinished_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QList<QSize>>("sizes");

    const QList<QSize> one{QSize(800, 600)};
    const QList<QSize> two{QSize(640, 480), QSize(1024, 700)};
    const QUrl missing = QUrl::fromLocalFile(QStringLiteral("/nonexistent/tavi/page.html"));
    QTest::newRow("load succeeds") << bridgePageUrl() << true << one;
    QTest::newRow("load fails") << missing << false << one;
    QTest::newRow("two sizes, last wins") << bridgePageUrl() << true << two;
}

void TestVmsWebWidgets::sizeDuringLoadAppliesAtLoadFinished()
{
    QFETCH(QUrl, url);
    QFETCH(bool, loads);
    QFETCH(QList<QSize>, sizes);

    QWidget parent;
    VmsWebWidgets w(&parent);
    w.setFixedSize(300, 200);
    QSignalSpy finished(w.view()->page(), &QWebEnginePage::loadFinished);

    w.OpenUrl(url.toString());
    for (const QSize& s : sizes)
        w.setFixedSize(s.width(), s.height());
    QCOMPARE(w.view()->size(), QSize(300, 200));

    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.constFirst().constFirst().toBool(), loads);
    QCOMPARE(w.view()->minimumSize(), sizes.constLast());
    QCOMPARE(w.view()->size(), sizes.constLast());

    // Idle again: a new size applies at once.
    w.setFixedSize(500, 400);
    QCOMPARE(w.view()->size(), QSize(500, 400));
}

void TestVmsWebWidgets::loadWithoutSizeFixesViewAtZero()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadPage(w, bridgePageUrl()));
    QCOMPARE(w.view()->maximumSize(), QSize(0, 0));
}

void TestVmsWebWidgets::setParentDoesNotReparentView()
{
    QWidget first, second;
    VmsWebWidgets w(&first);
    w.SetParent(&second);
    QCOMPARE(w.view()->parentWidget(), &first);
}

void TestVmsWebWidgets::closeEventIsIgnored()
{
    QWidget window;
    VmsWebWidgets w(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCloseEvent event;
    QApplication::sendEvent(w.view(), &event);
    QVERIFY(!event.isAccepted());
    QVERIFY(!w.view()->close());
    QVERIFY(w.view()->isVisible());
}

void TestVmsWebWidgets::focusRaisesAncestorWindowOnNextTurn_data()
{
    QTest::addColumn<bool>("insideWindow");
    QTest::newRow("view inside a window") << true;
    QTest::newRow("view without an ancestor window") << false;
}

void TestVmsWebWidgets::focusRaisesAncestorWindowOnNextTurn()
{
    QFETCH(bool, insideWindow);

    QWidget window;
    auto* inner = new QWidget(&window);
    VmsWebWidgets w(insideWindow ? inner : nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);

    QFocusEvent event(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(w.view(), &event);
    QVERIFY(!event.isAccepted());
    // Deferred: nothing changed during the event itself.
    QCOMPARE(QApplication::activeWindow(), &other);
    if (insideWindow) {
        QTRY_COMPARE(QApplication::activeWindow(), &window);
    } else {
        QTest::qWait(50);
        QCOMPARE(QApplication::activeWindow(), &other);
    }
}

void TestVmsWebWidgets::destructionOrderAndParentSurvives()
{
    QWidget parent;
    auto w = std::make_unique<VmsWebWidgets>(&parent);
    QVERIFY(loadBridgePage(*w));

    QWebEnginePage* page = w->view()->page();
    QWebChannel* channel = page->webChannel();
    QObject* bridge = channel->registeredObjects().value(QStringLiteral("CWebComm"));
    QStringList order;
    connect(bridge, &QObject::destroyed, this, [&order] { order << "bridge"; });
    connect(channel, &QObject::destroyed, this, [&order] { order << "channel"; });
    connect(page, &QObject::destroyed, this, [&order] { order << "page"; });
    connect(w->view(), &QObject::destroyed, this, [&order] { order << "view"; });

    w.reset();
    QCOMPARE(order, (QStringList{"bridge", "channel", "page", "view"}));
    QVERIFY(parent.findChildren<QWebEngineView*>().isEmpty());
}

void TestVmsWebWidgets::parentDestroyedFirst()
{
    auto parent = std::make_unique<QWidget>();
    auto w = std::make_unique<VmsWebWidgets>(parent.get());
    QVERIFY(loadBridgePage(*w));

    parent.reset();
    QVERIFY(w->view() == nullptr);
    // Nothing of this may touch the deleted view.
    w->setFixedSize(10, 10);
    w->reload();
    w->OpenUrl(bridgePageUrl().toString());
    w.reset();
}

QTEST_MAIN(TestVmsWebWidgets)
#include "tst_vmswebwidgets.moc"
