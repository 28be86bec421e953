#include "HostWindow.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
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

QImage screenShot()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

QRect screenRect(const QWidget* widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

double shareOf(const QImage& image, const QRect& rect, const QColor& colour, int tolerance)
{
    const QRect area = rect & image.rect();
    if (area.isEmpty())
        return 0;
    const QRgb want = colour.rgb();
    qint64 near = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb got = image.pixel(x, y);
            near += std::abs(qRed(got) - qRed(want)) <= tolerance
                && std::abs(qGreen(got) - qGreen(want)) <= tolerance
                && std::abs(qBlue(got) - qBlue(want)) <= tolerance;
        }
    }
    return double(near) / (qint64(area.width()) * area.height());
}

} // namespace TestSupport
