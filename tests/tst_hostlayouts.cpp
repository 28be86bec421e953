#include "HostWindow.h"

#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QMainWindow>
#include <memory>

using namespace TestSupport;

Q_DECLARE_METATYPE(TestSupport::HostLayout)

// A window around a page keeps the size it is given and the view follows
// it, however the host lays the page out. Runs offscreen and on X11.
class TestHostLayouts : public QObject
{
    Q_OBJECT
private slots:
    void windowKeepsItsSizeAndViewFollows_data();
    void windowKeepsItsSizeAndViewFollows();
};

void TestHostLayouts::windowKeepsItsSizeAndViewFollows_data()
{
    QTest::addColumn<HostLayout>("layout");
    QTest::addColumn<bool>("tabPage"); // else a VmsWebWidgets hosted directly
    const std::pair<const char*, HostLayout> layouts[]
        = { { "tab", HostLayout::Tab },
            { "splitter", HostLayout::SplitterInTab },
            { "grid", HostLayout::GridWithStretch },
            { "box", HostLayout::Box } };
    for (const auto& [name, layout] : layouts) {
        QTest::addRow("%s, tab page", name) << layout << true;
        QTest::addRow("%s, hosted view", name) << layout << false;
    }
}

void TestHostLayouts::windowKeepsItsSizeAndViewFollows()
{
    QFETCH(HostLayout, layout);
    QFETCH(bool, tabPage);

    QMainWindow window;
    QWidget* holder = pageHolder(tabPage, solidPageUrl(Qt::darkCyan).toString());
    const QWebEngineView* view = viewIn(holder);
    QSignalSpy loaded(view->page(), &QWebEnginePage::loadFinished);
    placeIn(window, layout, holder);
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(loaded.count() > 0 || loaded.wait(30000));

    const QSize shown = window.size();
    QTest::qWait(3000);
    QCOMPARE(window.size(), shown);

    // The page's view leaves its one-pixel margins above and below.
    const QSize margins(0, tabPage ? 2 : 0);
    QSize before = view->size();
    for (const QSize size : { QSize(1200, 800), QSize(800, 500) }) {
        const bool grows = size.width() > window.width();
        window.resize(size);
        QTRY_COMPARE(window.size(), size);
        QTRY_COMPARE(view->size(), holder->size() - margins);
        QTRY_VERIFY(
            window.rect().contains(QRect(view->mapTo(&window, QPoint(0, 0)), view->size())));
        const QSize delta = view->size() - before;
        QVERIFY(grows ? delta.width() > 0 && delta.height() > 0
                      : delta.width() < 0 && delta.height() < 0);
        before = view->size();
    }
}

QTEST_MAIN(TestHostLayouts)
#include "tst_hostlayouts.moc"
