// The picture viewer and the bridge's ShowPicture.

#include <ImageDialog.h>
#include <TaviSim.h>
#include <WebComm.h>

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtGui/QDesktopServices>
#include <QtGui/QImage>
#include <QtGui/QMouseEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

namespace {

// Stands in for the desktop: records the urls it is asked to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

QString writePicture(const QString& path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image.save(path, "PNG") ? path : QString();
}

QLabel* label(QDialog& d, const char* name)
{
    return d.findChild<QLabel*>(QLatin1String(name));
}

void sendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons,
    QPoint global)
{
    QMouseEvent event(type, target->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestImageDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    UrlRecorder m_desktop;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_desktop, "open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void init()
    {
        m_desktop.urls.clear();
        TaviSim::setBrisel(false);
    }

    void scalesToFit_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("full HD snapshot") << QSize(1920, 1080) << QSize(720, 405);
        QTest::newRow("small picture grows") << QSize(360, 280) << QSize(720, 560);
        QTest::newRow("portrait") << QSize(300, 600) << QSize(280, 560);
    }

    void scalesToFit()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, shown);
        const QString path = writePicture(m_dir.filePath("scale.png"), picture);
        QVERIFY(!path.isEmpty());
        ImageDialog dialog(path, nullptr);
        dialog.show();
        QLabel* image = label(dialog, "pictureLabel");
        QCOMPARE(image->pixmap().size(), shown);
        // On screen too, whatever width the bars below need.
        QCOMPARE(image->size(), shown);
    }

    // The title shows the file name, the path bar the whole path elided at
    // the right, framed in the Brisel edition only.
    void titleAndPathBar_data()
    {
        QTest::addColumn<bool>("brisel");
        QTest::newRow("brisel edition") << true;
        QTest::newRow("other editions") << false;
    }

    void titleAndPathBar()
    {
        QFETCH(bool, brisel);
        TaviSim::setBrisel(brisel);
        const QString dir
            = m_dir.filePath(QStringLiteral("a rather long folder name for the path bar/"
                                            "and another level of folders/still deeper"));
        QVERIFY(QDir().mkpath(dir));
        const QString path = writePicture(dir + "/Kamera 12 – Einfahrt.png", QSize(640, 360));
        QVERIFY(!path.isEmpty());
        ImageDialog dialog(path, nullptr);
        QCOMPARE(label(dialog, "titleLabel")->text(), QStringLiteral("Kamera 12 – Einfahrt.png"));
        const QString elided = label(dialog, "pathLabel")->text();
        QVERIFY2(elided.endsWith(QChar(0x2026)) && path.startsWith(elided.chopped(1)),
            qPrintable(elided));
        const QString sheet = dialog.findChild<QWidget*>("pathBar")->styleSheet();
        QCOMPARE(sheet.contains(QLatin1String("border: 1px solid #D9D9D9;")), brisel);
        QCOMPARE(sheet.contains(QLatin1String("border")), brisel);
    }

    void dragging_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("left on the picture") << "pictureLabel" << Qt::LeftButton << true;
        QTest::newRow("left on the title") << "titleLabel" << Qt::LeftButton << true;
        QTest::newRow("right on the picture") << "pictureLabel" << Qt::RightButton << false;
    }

    void dragging()
    {
        QFETCH(QString, target);
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, moves);
        const QString path = writePicture(m_dir.filePath("drag.png"), QSize(400, 300));
        ImageDialog dialog(path, nullptr);
        dialog.move(100, 80);
        dialog.show();
        QWidget* grip = dialog.findChild<QWidget*>(target);
        const QPoint start = grip->mapToGlobal(QPoint(10, 10));
        const QPoint startPos = dialog.pos();

        sendMouse(grip, QEvent::MouseButtonPress, button, button, start);
        sendMouse(grip, QEvent::MouseMove, Qt::NoButton, button, start + QPoint(60, 35));
        sendMouse(grip, QEvent::MouseButtonRelease, button, Qt::NoButton, start + QPoint(60, 35));
        QCOMPARE(dialog.pos(), moves ? startPos + QPoint(60, 35) : startPos);
    }

    void openFolder_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::newRow("absolute path") << false;
        QTest::newRow("relative path") << true;
    }

    void openFolder()
    {
        QFETCH(bool, relative);
        QVERIFY(QDir(m_dir.path()).mkpath("pics"));
        const QString absolute = writePicture(m_dir.filePath("pics/snap.png"), QSize(64, 48));
        QVERIFY(!absolute.isEmpty());
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        {
            ImageDialog dialog(relative ? QStringLiteral("pics/snap.png") : absolute, nullptr);
            dialog.show();
            dialog.findChild<QPushButton*>("openFolderButton")->click();
            QVERIFY(dialog.isVisible()); // the viewer stays open
        }
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(m_desktop.urls, QList<QUrl>({ QUrl::fromLocalFile(m_dir.filePath("pics")) }));
    }

    void showPictureRunsModally_data()
    {
        QTest::addColumn<bool>("loadable");
        QTest::newRow("picture") << true;
        QTest::newRow("unloadable picture") << false;
    }

    // A picture that cannot be loaded keeps the title bar with its close
    // button and says why the window is empty.
    void showPictureRunsModally()
    {
        QFETCH(bool, loadable);
        const QString path = loadable ? writePicture(m_dir.filePath("modal.png"), QSize(200, 100))
                                      : m_dir.filePath("nothing-here.png");
        if (!loadable)
            QTest::ignoreMessage(QtWarningMsg, "Image could not be loaded.");
        QStringList seen; // title, picture text, whether both show
        int tries = 0;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<ImageDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible()) {
                auto* close = dialog->findChild<QPushButton*>("closeButton");
                seen << label(*dialog, "titleLabel")->text()
                     << label(*dialog, "pictureLabel")->text()
                     << QString::number(
                            close->isVisible() && label(*dialog, "pictureLabel")->isVisible());
                close->click();
                closer.stop();
            } else if (++tries > 250 && QApplication::activeModalWidget()) {
                QApplication::activeModalWidget()->close(); // never leave the test hanging
            }
        });
        closer.start();
        CWebComm bridge;
        bridge.ShowPicture(path);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(seen,
            QStringList({ QFileInfo(path).fileName(),
                loadable ? QString() : QStringLiteral("Image could not be loaded."), "1" }));
    }
};

QTEST_MAIN(TestImageDialog)
#include "tst_imagedialog.moc"
