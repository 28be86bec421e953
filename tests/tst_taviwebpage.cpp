#include "TestSupport.h"

#include <QtCore/QPointer>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QLayout>
#include <SkinMgr.h>
#include <TaviWebPage.h>
#include <WebComm.h>
#include <memory>

using namespace TestSupport;

namespace {
QWebEnginePage* pageOf(TaviWebPage& p)
{
    return p.webWidgets()->view()->page();
}
} // namespace

class TestTaviWebPage : public QObject
{
    Q_OBJECT
private slots:
    void constructionLooksAndLoads();
    void resizeAppliesOnceLoaded_data();
    void resizeAppliesOnceLoaded();
    void resizeDuringReloadAppliesAtOnce();
    void destructionTakesViewPageChannelAndBridge();
};

void TestTaviWebPage::constructionLooksAndLoads()
{
    QWidget host;
    TaviWebPage page(&host, bridgePageUrl().toString());
    QVERIFY(page.parent() == nullptr);
    QCOMPARE(page.objectName(), QStringLiteral("webPageFrame"));
    QVERIFY(!page.testAttribute(Qt::WA_NativeWindow)); // composed into the host window
    QCOMPARE(page.styleSheet(),
        QStringLiteral("#webPageFrame{ background-color:%1;}").arg(taviSkinMgr()->webPageSolid()));
    QCOMPARE(page.webWidgets()->view()->parentWidget(), &page);
    QCOMPARE(page.layout()->contentsMargins(), QMargins(0, 1, 0, 1));
    QCOMPARE(page.layout()->itemAt(0)->widget(), page.webWidgets()->view());
    QCOMPARE(page.layout()->itemAt(0)->alignment(), Qt::AlignVCenter);
    // Loading starts during construction.
    QCOMPARE(pageOf(page)->url(), bridgePageUrl());
    QVERIFY(waitForJs(pageOf(page), QStringLiteral("window.bridgeReady === true"), 30000));
}

void TestTaviWebPage::resizeAppliesOnceLoaded_data()
{
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::newRow("one resize") << QList<QSize> { QSize(1000, 700) };
    QTest::newRow("two resizes, last wins") << QList<QSize> { QSize(640, 480), QSize(1000, 700) };
}

void TestTaviWebPage::resizeAppliesOnceLoaded()
{
    QFETCH(QList<QSize>, sizes);

    TaviWebPage page(nullptr, bridgePageUrl().toString());
    QSignalSpy finished(pageOf(page), &QWebEnginePage::loadFinished);
    page.show();
    for (const QSize& s : sizes)
        page.resize(s);
    QVERIFY(finished.isEmpty());
    const QSize last = sizes.constLast();
    QVERIFY(page.webWidgets()->view()->size() != QSize(last.width(), last.height() - 2));

    QVERIFY(finished.wait(30000));
    QCOMPARE(page.webWidgets()->view()->size(), QSize(last.width(), last.height() - 2));
}

void TestTaviWebPage::resizeDuringReloadAppliesAtOnce()
{
    TaviWebPage page(nullptr, bridgePageUrl().toString());
    QSignalSpy finished(pageOf(page), &QWebEnginePage::loadFinished);
    page.show();
    page.resize(800, 600);
    QVERIFY(finished.wait(30000));
    QCOMPARE(page.webWidgets()->view()->size(), QSize(800, 598));

    finished.clear();
    page.reload();
    page.resize(1000, 700);
    QCOMPARE(page.webWidgets()->view()->size(), QSize(1000, 698));
    QVERIFY(finished.wait(30000));
    QCOMPARE(page.webWidgets()->view()->size(), QSize(1000, 698));
}

void TestTaviWebPage::destructionTakesViewPageChannelAndBridge()
{
    auto page = std::make_unique<TaviWebPage>(nullptr, bridgePageUrl().toString());
    QVERIFY(waitForJs(pageOf(*page), QStringLiteral("window.bridgeReady === true"), 30000));
    QPointer<QWebEngineView> view = page->webWidgets()->view();
    QPointer<QWebEnginePage> webPage = pageOf(*page);
    QPointer<QWebChannel> channel = webPage->webChannel();
    QPointer<QObject> bridge = channel->registeredObjects().value(QStringLiteral("CWebComm"));
    QVERIFY(view && webPage && channel && bridge);

    page.reset();
    QVERIFY(!view);
    QVERIFY(!webPage);
    QVERIFY(!channel);
    QVERIFY(!bridge);
}

QTEST_MAIN(TestTaviWebPage)
#include "tst_taviwebpage.moc"
