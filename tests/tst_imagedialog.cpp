// The picture viewer and the bridge's ShowPicture.

#include <ImageDialog.h>
#include <SkinMgr.h>
#include <TaviSim.h>
#include <WebComm.h>

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtGui/QDesktopServices>
#include <QtGui/QFontMetrics>
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
        QTest::newRow("exact fit") << QSize(720, 560) << QSize(720, 560);
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
        QVERIFY(dialog.width() >= shown.width());
    }

    void barsAndTexts()
    {
        const QString dir
            = m_dir.filePath(QStringLiteral("a rather long folder name for the path bar/"
                                            "and another level of folders/still deeper"));
        QVERIFY(QDir().mkpath(dir));
        const QString path = writePicture(dir + "/Kamera 12 – Einfahrt.png", QSize(640, 360));
        QVERIFY(!path.isEmpty());
        ImageDialog dialog(path, nullptr);

        QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(label(dialog, "titleLabel")->text(), QStringLiteral("Kamera 12 – Einfahrt.png"));
        QLabel* pathLabel = label(dialog, "pathLabel");
        const QString elided
            = QFontMetrics(pathLabel->font()).elidedText(path, Qt::ElideRight, 640);
        QCOMPARE(pathLabel->text(), elided);
        QVERIFY(elided.endsWith(QChar(0x2026)));
        QVERIFY(path.startsWith(elided.chopped(1)));
        QCOMPARE(pathLabel->height(), 32);
        QCOMPARE(dialog.elideText(QStringLiteral("short"), pathLabel->font(), 640),
            QStringLiteral("short"));

        QCOMPARE(dialog.findChild<QWidget*>("titleBar")->height(), 44);
        QCOMPARE(dialog.findChild<QWidget*>("pathBar")->height(), 36);
        QCOMPARE(dialog.findChild<QWidget*>("bottomBar")->height(), 64);
        QCOMPARE(dialog.findChild<QPushButton*>("closeButton")->size(), QSize(25, 25));
        QCOMPARE(dialog.findChild<QPushButton*>("openFolderButton")->size(), QSize(32, 32));
    }

    void pathBarBorder_data()
    {
        QTest::addColumn<bool>("brisel");
        QTest::addColumn<QString>("border");
        QTest::newRow("brisel edition") << true << "border: 1px solid #D9D9D9;";
        QTest::newRow("other editions") << false << "";
    }

    void pathBarBorder()
    {
        QFETCH(bool, brisel);
        QFETCH(QString, border);
        TaviSim::setBrisel(brisel);
        const QString path = writePicture(m_dir.filePath("border.png"), QSize(64, 64));
        ImageDialog dialog(path, nullptr);
        QCOMPARE(dialog.findChild<QWidget*>("pathBar")->styleSheet(),
            QStringLiteral("background: %1; %2").arg(taviSkinMgr()->lineEditColor(), border));
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

    void unloadablePicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::newRow("missing file") << "missing.png" << QByteArray();
        QTest::newRow("not a picture") << "notes.png" << QByteArray("just text");
    }

    void unloadablePicture()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath(name);
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }

        QTest::ignoreMessage(QtWarningMsg, "Image could not be loaded.");
        ImageDialog dialog(path, nullptr);
        dialog.show();
        QLabel* title = label(dialog, "titleLabel");
        QLabel* image = label(dialog, "pictureLabel");
        auto* close = dialog.findChild<QPushButton*>("closeButton");
        QVERIFY(title->isVisible());
        QCOMPARE(title->text(), name);
        QVERIFY(close->isVisible());
        QCOMPARE(image->text(), QStringLiteral("Image could not be loaded."));
        QVERIFY(image->isVisible());
        QVERIFY(image->width() > image->fontMetrics().horizontalAdvance(image->text()));
        QVERIFY(!dialog.findChild<QWidget*>("pathBar"));
        // Nothing of the window lies outside it.
        QVERIFY(dialog.rect().contains(title->geometry()));
        QVERIFY(dialog.rect().contains(image->geometry()));
        close->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void showPictureRunsModally_data()
    {
        QTest::addColumn<bool>("loadable");
        QTest::newRow("picture") << true;
        QTest::newRow("unloadable picture") << false;
    }

    void showPictureRunsModally()
    {
        QFETCH(bool, loadable);
        const QString path = loadable ? writePicture(m_dir.filePath("modal.png"), QSize(200, 100))
                                      : m_dir.filePath("nothing-here.png");
        if (!loadable)
            QTest::ignoreMessage(QtWarningMsg, "Image could not be loaded.");
        bool sawModal = false;
        int tries = 0;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<ImageDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible()) {
                sawModal = true;
                dialog->findChild<QPushButton*>("closeButton")->click();
                closer.stop();
            } else if (++tries > 250 && QApplication::activeModalWidget()) {
                QApplication::activeModalWidget()->close(); // never leave the test hanging
            }
        });
        closer.start();
        CWebComm bridge;
        bridge.ShowPicture(path);
        QVERIFY(sawModal);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestImageDialog)
#include "tst_imagedialog.moc"
