#include "HostWindow.h"
#include "TestSupport.h"

#include <MyMessageBox.h>
#include <PlayVideoDialog.h>
#include <QtCore/QProcess>
#include <QtMultimedia/QMediaPlayer>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTextEdit>
#include <SkinMgr.h>
#include <TaviSim.h>
#include <TaviWebPage.h>

using namespace TestSupport;

Q_DECLARE_METATYPE(TestSupport::HostLayout)

namespace {
QColor skin(QString (SkinMgr::*colour)() const)
{
    return QColor::fromString((taviSkinMgr()->*colour)());
}
} // namespace

// What an X server and a Wayland compositor show of the module's windows:
// the screen's pixels, not the widgets drawing themselves.
class TestRealDisplay : public QObject
{
    Q_OBJECT
private slots:
    void pageIsComposedIntoHostWindow_data();
    void pageIsComposedIntoHostWindow();
    void demoHostAfterItsTour();
    void videoDialogShowsChangingFrames();
    void alarmBoxShowsMessageAndButtons();
    void fullScreenFillsScreenAndComesBack();
    void operatorMenuOverPage();
};

void TestRealDisplay::pageIsComposedIntoHostWindow_data()
{
    QTest::addColumn<HostLayout>("layout");
    QTest::addColumn<bool>("tabPage"); // else a VmsWebWidgets hosted directly
    QTest::addColumn<bool>("askWinId");
    QTest::newRow("tab page beside a panel") << HostLayout::SplitterInTab << true << false;
    QTest::newRow("web widgets beside a panel") << HostLayout::SplitterInTab << false << false;
    QTest::newRow("tab page asked for its winId") << HostLayout::Tab << true << true;
}

void TestRealDisplay::pageIsComposedIntoHostWindow()
{
    QFETCH(HostLayout, layout);
    QFETCH(bool, tabPage);
    QFETCH(bool, askWinId);
    const QColor colour(255, 128, 0);

    QMainWindow window;
    QWidget* holder = pageHolder(tabPage, solidPageUrl(colour).toString());
    placeIn(window, layout, holder);
    if (askWinId) // as soon as the host has placed it
        QVERIFY(holder->winId() != 0);
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    if (onWayland() && askWinId) {
        // One look once the page has loaded: each look costs the
        // screenshooter's whole timeout here.
        QSignalSpy loaded(viewIn(holder)->page(), &QWebEnginePage::loadFinished);
        QVERIFY(loaded.count() > 0 || loaded.wait(30000));
        QEXPECT_FAIL("",
                     "Weston's headless back end stops repainting its screen once a web view "
                     "lies in a native child window (a subsurface), so no screenshot comes",
                     Abort);
        const QImage screen = screenShot();
        QVERIFY(shareOf(screen, screenRect(viewIn(holder), screen), colour) > 0.99);
    }
    QImage screen;
    QVERIFY(screenShowsWithin(30000, [&](const QImage& shot) {
        screen = shot;
        return shareOf(shot, screenRect(viewIn(holder), shot), colour) > 0.99;
    }));
    if (const auto* panel = window.findChild<QTextEdit*>())
        QVERIFY(shareOf(screen, screenRect(panel->viewport(), screen), Qt::white) > 0.95);
    const QTabBar* tabs = window.findChild<QTabBar*>();
    QVERIFY(
        shareOf(screen, tabs->tabRect(0).translated(screenRect(tabs, screen).topLeft()), Qt::black)
        < 0.05);
}

void TestRealDisplay::demoHostAfterItsTour()
{
#ifndef TAVI_DEMO
    QSKIP("built without the demo host");
#else
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("demo.png"));
    QProcess demo;
    demo.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), dir.path()); // its scratch folders go with dir
    demo.setProcessEnvironment(env);
    demo.start(QStringLiteral(TAVI_DEMO), { "--tour", "--screenshot", shot });
    QVERIFY(demo.waitForFinished(180000));
    QVERIFY2(demo.exitCode() == 0, demo.readAll().right(2000).constData());

    // The demo's window: the page in the splitter's left part (the page's
    // own background colour), the host panel on the right (white).
    const QImage image(shot);
    QCOMPARE(image.size(), QSize(1400, 860));
    QVERIFY(shareOf(image, image.rect(), Qt::black, 4) < 0.01);
    QVERIFY(shareOf(image, QRect(0, 40, 900, 800), QColor(0x1b, 0x1e, 0x23), 4) > 0.2);
    QVERIFY(shareOf(image, QRect(1000, 60, 380, 780), Qt::white) > 0.5);
#endif
}

void TestRealDisplay::videoDialogShowsChangingFrames()
{
    // The clip lasts six seconds, less than a loaded machine may take to
    // show the dialog (which then shows its end, blank): its players loop
    // from the moment they are there.
    QTimer loops;
    connect(&loops, &QTimer::timeout, this, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("PlayVideoDialog"))
                for (QMediaPlayer* player : w->findChildren<QMediaPlayer*>())
                    player->setLoops(QMediaPlayer::Infinite);
    });
    loops.start(10);
    // Opened by a page on screen, as pages do.
    TaviSim::installClientSdk();
    TaviWebPage page(nullptr, bridgePageUrl().toString());
    page.resize(600, 400);
    page.show();
    QWebEnginePage* webPage = page.webWidgets()->view()->page();
    QVERIFY(waitForJs(webPage, QStringLiteral("window.bridgeReady === true"), 30000));
    callBridge(webPage, QStringLiteral("PlayVideoFile"), { QStringLiteral(TAVI_SAMPLE_VIDEO) });
    std::unique_ptr<QWidget> dialog;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("PlayVideoDialog"))
            dialog.reset(w);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(!dialog->findChildren<QMediaPlayer*>().isEmpty());

    const QWidget* area = dialog->findChild<QWidget*>(QStringLiteral("videoArea"));
    // Without a picture the area shows black or the dialog's background.
    const auto pictured = [area](const QImage& screen, QImage* frame) {
        *frame = screen.copy(screenRect(area, screen));
        return shareOf(*frame, frame->rect(), Qt::black)
            + shareOf(*frame, frame->rect(), skin(&SkinMgr::themeThirdColor))
            < 0.5;
    };
    QImage first, changed;
    QVERIFY(
        screenShowsWithin(30000, [&](const QImage& screen) { return pictured(screen, &first); }));
    // Another picture, not the blank between two rounds of the clip.
    QVERIFY(screenShowsWithin(30000, [&](const QImage& screen) {
        return pictured(screen, &changed) && changed != first;
    }));
}

void TestRealDisplay::alarmBoxShowsMessageAndButtons()
{
    QDialog owner;
    CMessageBox box(&owner);
    bool drawn = false;
    int looks = 0;
    QTimer look;
    connect(&look, &QTimer::timeout, &box, [&] {
        const auto* message = box.findChild<QLabel*>(QStringLiteral("messageLabel"));
        auto* later = box.findChild<QPushButton*>(QStringLiteral("promptLaterButton"));
        if (!message || !later)
            return;
        const QImage screen = screenShot();
        drawn = shareOf(screen, screenRect(&box, screen), skin(&SkinMgr::dlgBackgroundColor)) > 0.6
            && shareOf(screen, screenRect(message, screen), skin(&SkinMgr::oneLevelTextColor), 48)
                > 0.01
            && shareOf(screen, screenRect(later, screen), skin(&SkinMgr::hoverRedColor)) > 0.3;
        if (drawn || ++looks == 100)
            later->click();
    });
    look.start(100);
    QVERIFY(box.DevAlarmTips(QStringLiteral("Camera 03, loading bay: motion in zone 3")));
    QVERIFY(drawn);
}

namespace {
// A tab page of one colour in a host window, shown once it is on the
// screen; a click on it asks for full screen.
struct ColourTab
{
    QColor colour { 0, 160, 80 };
    QMainWindow window;
    TaviWebPage* tab = nullptr;
    QRect placed; // the view on the screen
    bool show()
    {
        QUrl url = solidPageUrl(colour);
        url.setPath(
            url.path().replace("<body ", "<body onclick='document.body.requestFullscreen()' "));
        placeIn(window, HostLayout::Tab, tab = new TaviWebPage(nullptr, url.toString()));
        window.resize(1000, 700);
        window.show();
        return QTest::qWaitForWindowExposed(&window)
            && screenShowsWithin(30000, [this](const QImage& screen) {
                   placed = screenRect(view(), screen);
                   return shareOf(screen, placed, colour) > 0.99;
               });
    }
    QWidget* view() { return tab->webWidgets()->view(); }
    bool click(Qt::MouseButton button)
    {
        return clickInPage(*tab->webWidgets(), QPoint(80, 60), button);
    }
};
} // namespace

void TestRealDisplay::fullScreenFillsScreenAndComesBack()
{
    if (onWayland())
        QSKIP("open: on Weston the full-screen request of a click is not seen yet");
    ColourTab host;
    QVERIFY(host.show());
    QSignalSpy changed(host.tab, &TaviWebPage::fullScreenChanged);
    QVERIFY(host.click(Qt::LeftButton));
    QVERIFY(changed.wait(10000));
    QVERIFY(screenShowsWithin(30000, [&host](const QImage& screen) {
        return shareOf(screen, screen.rect(), host.colour) > 0.99;
    }));
    QTest::keyClick(host.view()->window(), Qt::Key_Escape);
    QVERIFY(changed.wait(10000));
    QCOMPARE(changed[1][0].toBool(), false);
    QVERIFY(screenShowsWithin(30000, [&](const QImage& screen) {
        return screenRect(host.view(), screen) == host.placed
            && shareOf(screen, host.placed, host.colour) > 0.99
            && shareOf(screen, screen.rect(), host.colour) < 0.9;
    }));
}

void TestRealDisplay::operatorMenuOverPage()
{
    ColourTab host;
    QVERIFY(host.show());
    QVERIFY(host.click(Qt::RightButton));
    QMenu* menu = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (menu = host.view()->findChild<QMenu*>("tavi-context-menu")) && menu->isVisible(), 10000);
    QVERIFY(screenShowsWithin(30000, [&host, menu](const QImage& screen) {
        return shareOf(screen, screenRect(menu, screen), host.colour) < 0.1;
    }));
    menu->close();
}

QTEST_MAIN(TestRealDisplay)
#include "tst_realdisplay.moc"
