#include "HostWindow.h"

#include <QtCore/QDeadlineTimer>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTextEdit>
#include <TaviWebPage.h>
#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <cstdlib>

namespace TestSupport {

void placeIn(QMainWindow& window, HostLayout layout, QWidget* content)
{
    if (layout == HostLayout::Tab || layout == HostLayout::SplitterInTab) {
        auto* tabs = new QTabWidget;
        if (layout == HostLayout::Tab) {
            tabs->addTab(content, QStringLiteral("Map"));
        } else {
            auto* splitter = new QSplitter;
            splitter->addWidget(content);
            splitter->addWidget(new QTextEdit);
            tabs->addTab(splitter, QStringLiteral("Map"));
        }
        window.setCentralWidget(tabs);
        return;
    }
    auto* central = new QWidget;
    if (layout == HostLayout::GridWithStretch) {
        auto* grid = new QGridLayout(central);
        grid->addWidget(new QLabel(QStringLiteral("Devices")), 0, 0);
        grid->addWidget(content, 0, 1);
        grid->addWidget(new QLabel(QStringLiteral("Status")), 1, 0, 1, 2);
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 3);
        grid->setRowStretch(0, 1);
    } else {
        (new QVBoxLayout(central))->addWidget(content);
    }
    window.setCentralWidget(central);
}

namespace {

class WebContainer : public QWidget
{
public:
    explicit WebContainer(const QString& url)
        : m_web(this)
    {
        m_web.OpenUrl(url);
    }

protected:
    void resizeEvent(QResizeEvent*) override { m_web.setFixedSize(width(), height()); }

private:
    VmsWebWidgets m_web; // goes before the view's parent, this container
};

} // namespace

QWidget* pageHolder(bool tabPage, const QString& url)
{
    if (tabPage)
        return new TaviWebPage(nullptr, url);
    return new WebContainer(url);
}

QWebEngineView* viewIn(QWidget* holder)
{
    return holder->findChild<QWebEngineView*>();
}

QUrl solidPageUrl(const QColor& colour)
{
    return QUrl(
        QStringLiteral("data:text/html,<body style='margin:0;background:rgb(%1,%2,%3)'></body>")
            .arg(colour.red())
            .arg(colour.green())
            .arg(colour.blue()));
}

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QImage screenShot()
{
    if (!onWayland())
        return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    // A Wayland client cannot read the screen; Weston's screenshooter can,
    // and writes a PNG into its working folder (newer ones into
    // XDG_PICTURES_DIR).
    QTemporaryDir dir;
    QProcess shooter;
    shooter.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_PICTURES_DIR"), dir.path());
    shooter.setProcessEnvironment(env);
    shooter.setProcessChannelMode(QProcess::MergedChannels);
    shooter.start(
        qEnvironmentVariable("TAVI_SCREENSHOOTER", QStringLiteral("weston-screenshooter")), {});
    if (!shooter.waitForFinished(10000) || shooter.exitCode() != 0) {
        shooter.kill();
        shooter.waitForFinished();
        qWarning("screenshooter failed: %s", shooter.readAll().constData());
        return {};
    }
    const QStringList shots = QDir(dir.path()).entryList({ QStringLiteral("*.png") });
    if (shots.isEmpty())
        return {};
    return QImage(dir.filePath(shots.first())).convertToFormat(QImage::Format_RGB32);
}

namespace {

bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Where pattern stands in image, or a point far outside when nowhere.
QPoint locate(const QImage& image, const QImage& pattern)
{
    const QPoint nowhere(-100000, -100000);
    if (image.isNull() || pattern.isNull())
        return nowhere;
    // The pixels that differ from the pattern's first one go first, so that
    // most wrong places are left after a pixel or two.
    QList<QPoint> order;
    QList<QPoint> plain;
    const QRgb first = pattern.pixel(0, 0);
    for (int y = 0; y < pattern.height(); ++y)
        for (int x = 0; x < pattern.width(); ++x)
            (near(pattern.pixel(x, y), first, 8) ? plain : order) << QPoint(x, y);
    order += plain;
    for (int y = 0; y + pattern.height() <= image.height(); ++y) {
        for (int x = 0; x + pattern.width() <= image.width(); ++x) {
            bool all = true;
            for (const QPoint& p : std::as_const(order)) {
                if (!near(image.pixel(x + p.x(), y + p.y()), pattern.pixel(p), 8)) {
                    all = false;
                    break;
                }
            }
            if (all)
                return QPoint(x, y);
        }
    }
    return nowhere;
}

// The window's top left corner on the screen. Wayland does not tell a client
// where its windows stand, so there the window's top rows, as it draws them,
// are looked for in the screen's pixels.
QPoint windowOrigin(QWidget* window, const QImage& screen)
{
    if (!onWayland())
        return window->mapToGlobal(QPoint(0, 0));
    const QImage top = window->grab(QRect(0, 0, window->width(), std::min(16, window->height())))
                           .toImage()
                           .convertToFormat(QImage::Format_RGB32);
    return locate(screen, top);
}

} // namespace

QRect screenRect(const QWidget* widget, const QImage& screen)
{
    QWidget* window = widget->window();
    return QRect(windowOrigin(window, screen) + widget->mapTo(window, QPoint(0, 0)),
                 widget->size());
}

bool screenShowsWithin(int timeoutMs, const std::function<bool(const QImage& screen)>& shows)
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        if (shows(screenShot()))
            return true;
        QTest::qWait(50);
    } while (!deadline.hasExpired());
    return false;
}

double shareOf(const QImage& image, const QRect& rect, const QColor& colour, int tolerance)
{
    const QRect area = rect & image.rect();
    if (area.isEmpty())
        return 0;
    qint64 matching = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            matching += near(image.pixel(x, y), colour.rgb(), tolerance);
    return double(matching) / (qint64(area.width()) * area.height());
}

} // namespace TestSupport
