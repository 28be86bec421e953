// The alarm tips box and the bridge's ShowDevAlarmTips, with its Chinese
// translation.

#include <MyMessageBox.h>
#include <WebComm.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtCore/QTranslator>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

#include <cstdio>
#include <functional>

namespace {

// Runs act on the alarm box once it is up in its modal loop. Should the box
// never come, it still closes whatever modal window there is, so that no
// test waits for a person.
struct BoxDriver : QTimer
{
    explicit BoxDriver(std::function<void(CMessageBox*)> act)
    {
        connect(this, &QTimer::timeout, [this, act, tries = 0]() mutable {
            auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isVisible()) {
                acted = true;
                stop();
                act(box);
            } else if (++tries > 250 && QApplication::activeModalWidget()) {
                QApplication::activeModalWidget()->close();
            }
        });
        start(20);
    }
    bool acted = false;
};

QPushButton* button(CMessageBox* box, const char* name)
{
    return box->findChild<QPushButton*>(QLatin1String(name));
}

QString translationsDir()
{
    // Where the module's translations lie relative to the programs, in the
    // build tree as after installation.
    return QCoreApplication::applicationDirPath()
        + QStringLiteral("/../share/TaviWebModule/translations");
}

// Child mode: shows one box through the bridge on the screen the parent set
// up and prints where the box stood.
int showAlarmBoxAndReport(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPoint where(-1, -1);
    BoxDriver driver([&](CMessageBox* box) {
        where = box->pos();
        button(box, "closePromptButton")->click();
    });
    CWebComm bridge;
    bridge.ShowDevAlarmTips(QStringLiteral("Camera 3: motion"));
    std::printf("%d %d\n", where.x(), where.y());
    return driver.acted ? 0 : 1;
}

} // namespace

class TestMessageBox : public QObject
{
    Q_OBJECT
private slots:
    void choice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("result");
        QTest::newRow("Prompt later") << "promptLaterButton" << true;
        QTest::newRow("Close prompt") << "closePromptButton" << false;
        QTest::newRow("corner button") << "cornerCloseButton" << false;
        QTest::newRow("Escape") << "escape" << false;
    }

    void choice()
    {
        QFETCH(QString, how);
        QFETCH(bool, result);
        BoxDriver driver([&](CMessageBox* box) {
            if (how == QLatin1String("escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else
                button(box, how.toLatin1().constData())->click();
        });
        CWebComm bridge;
        QCOMPARE(bridge.ShowDevAlarmTips(QStringLiteral("Door 2 forced open")), result);
        QVERIFY(driver.acted);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The buttons are as wide as their texts need plus 20, also translated; a
    // long message wraps in 380 pixels and is cut off below 30.
    void textsAndSizes_data()
    {
        QTest::addColumn<QString>("locale"); // empty: no translation loaded
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("English") << "" << QStringList({ "Prompt later", "Close prompt" });
        QTest::newRow("Chinese") << "zh_CN"
                                 << QStringList(
                                        { QStringLiteral("稍后提示"), QStringLiteral("关闭提示") });
    }

    void textsAndSizes()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, texts);
        QTranslator translator;
        if (!locale.isEmpty()) {
            QVERIFY2(translator.load(QLocale(locale), QStringLiteral("taviwebmodule"),
                         QStringLiteral("_"), translationsDir()),
                qPrintable(translationsDir()));
            QVERIFY(QCoreApplication::installTranslator(&translator));
        }
        const QString message = QStringLiteral(
            "Camera 7 at the loading bay reports motion in zone 3 while the site is armed; "
            "the recorder keeps the clip for review.");
        QStringList shown;
        QList<QSize> sizes, expected;
        QRect messageArea;
        bool wraps = false;
        BoxDriver driver([&](CMessageBox* box) {
            for (const char* name : { "promptLaterButton", "closePromptButton" }) {
                QPushButton* b = button(box, name);
                shown << b->text();
                sizes << b->size();
                expected << QSize(b->sizeHint().width() + 20, 30);
            }
            auto* label = box->findChild<QLabel*>(QStringLiteral("messageLabel"));
            messageArea = label->geometry();
            wraps
                = label->text() == message && label->wordWrap() && label->heightForWidth(380) > 30;
            button(box, "closePromptButton")->click();
        });
        CWebComm bridge;
        QVERIFY(!bridge.ShowDevAlarmTips(message));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(shown, texts);
        QCOMPARE(sizes, expected);
        QCOMPARE(messageArea, QRect(50, 80, 380, 30));
        QVERIFY(wraps);
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("full HD at the origin") << QRect(0, 0, 1920, 1080) << QPoint(740, 425);
        QTest::newRow("odd size truncates") << QRect(0, 0, 1365, 767) << QPoint(462, 268);
        QTest::newRow("screen with an offset")
            << QRect(1920, 200, 1280, 1024) << QPoint(1920 + 420, 200 + 397);
    }

    void placement()
    {
        QFETCH(QRect, screen);
        QFETCH(QPoint, expected);
        // The primary screen is fixed once the application runs, so each
        // screen gets its own run of this program.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile config(dir.filePath(QStringLiteral("screens.json")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral(R"({"screens":[{"name":"primary","x":%1,"y":%2,"width":%3,)"
                                    R"("height":%4,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})")
                         .arg(QString::number(screen.x()), QString::number(screen.y()),
                             QString::number(screen.width()), QString::number(screen.height()))
                         .toUtf8());
        config.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
            QStringLiteral("offscreen:configfile=") + config.fileName());
        child.setProcessEnvironment(env);
        child.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--show-alarm-box") });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(QString::fromLatin1(child.readAllStandardOutput()).trimmed(),
            QStringLiteral("%1 %2").arg(expected.x()).arg(expected.y()));
    }
};

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--show-alarm-box") == 0)
        return showAlarmBoxAndReport(argc, argv);
    QApplication app(argc, argv);
    TestMessageBox test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messagebox.moc"
