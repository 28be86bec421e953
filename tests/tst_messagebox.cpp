// The alarm tips box and the bridge's ShowDevAlarmTips, with its Chinese
// translation.

#include "TestSupport.h"

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
class BoxDriver : public QObject
{
public:
    explicit BoxDriver(std::function<void(CMessageBox*)> act)
        : m_act(std::move(act))
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }
    bool acted = false;

private:
    void poll()
    {
        auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            acted = true;
            m_timer.stop();
            m_act(box);
        } else if (++m_tries > 250 && QApplication::activeModalWidget()) {
            QApplication::activeModalWidget()->close();
        }
    }
    std::function<void(CMessageBox*)> m_act;
    QTimer m_timer;
    int m_tries = 0;
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
    const bool result = bridge.ShowDevAlarmTips(QStringLiteral("Camera 3: motion"));
    std::printf("%d %d %d\n", where.x(), where.y(), int(result));
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

    void layout()
    {
        const QString message = QStringLiteral(
            "Camera 7 at the loading bay reports motion in zone 3 while the site is armed; "
            "the recorder keeps the clip for review.");
        QString failure = QStringLiteral("box never shown");
        BoxDriver driver([&](CMessageBox* box) {
            failure.clear();
            auto check = [&](bool ok, const char* what) {
                if (!ok && failure.isEmpty())
                    failure = QString::fromLatin1(what);
            };
            check(box->size() == QSize(440, 230), "box size");
            check(box->windowFlags().testFlags(
                      Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
                "window flags");
            auto* label = box->findChild<QLabel*>(QStringLiteral("messageLabel"));
            check(label && label->text() == message && label->wordWrap(), "message text");
            // Wrapped in 380 pixels, cut off below 30.
            check(label && label->geometry() == QRect(50, 80, 380, 30), "message geometry");
            check(label && label->heightForWidth(380) > 30, "message wraps");
            auto* row = box->findChild<QWidget*>(QStringLiteral("buttonRow"));
            check(row && row->geometry() == QRect(3, 137, 434, 80), "button row");
            QPushButton* later = button(box, "promptLaterButton");
            QPushButton* close = button(box, "closePromptButton");
            check(later && later->text() == QLatin1String("Prompt later"), "later text");
            check(close && close->text() == QLatin1String("Close prompt"), "close text");
            for (QPushButton* b : { later, close }) {
                check(b && b->parentWidget() == row, "buttons in the row");
                check(b && b->size() == QSize(b->sizeHint().width() + 20, 30), "button size");
            }
            // Side by side at the right end, inside the row's margins.
            check(later && close && later->geometry().right() + 1 + 10 == close->geometry().left()
                    && close->geometry().right() == 434 - 30 - 1,
                "buttons at the right");
            check(button(box, "cornerCloseButton")->geometry() == QRect(400, 10, 24, 24),
                "corner button");
            button(box, "closePromptButton")->click();
        });
        CWebComm bridge;
        QVERIFY(!bridge.ShowDevAlarmTips(message));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void emptyMessage()
    {
        QString text = QStringLiteral("unset");
        int buttons = 0;
        BoxDriver driver([&](CMessageBox* box) {
            text = box->findChild<QLabel*>(QStringLiteral("messageLabel"))->text();
            buttons = box->findChildren<QPushButton*>().size();
            button(box, "promptLaterButton")->click();
        });
        CWebComm bridge;
        QVERIFY(bridge.ShowDevAlarmTips(QString()));
        QCOMPARE(text, QString());
        QCOMPARE(buttons, 3);
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
        config.write(
            QStringLiteral(R"({"screens":[{"name":"primary","x":%1,"y":%2,"width":%3,"height":%4,)"
                           R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})")
                .arg(screen.x())
                .arg(screen.y())
                .arg(screen.width())
                .arg(screen.height())
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
        const QStringList out = QString::fromLatin1(child.readAllStandardOutput()).split(' ');
        QCOMPARE(out.size(), 3);
        QCOMPARE(QPoint(out.at(0).toInt(), out.at(1).toInt()), expected);
        QCOMPARE(out.at(2).trimmed(), QStringLiteral("0"));
    }

    void chineseTranslation()
    {
        QTranslator translator;
        QVERIFY2(translator.load(QLocale(QStringLiteral("zh_CN")), QStringLiteral("taviwebmodule"),
                     QStringLiteral("_"), translationsDir()),
            qPrintable(translationsDir()));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        QStringList texts;
        QList<QSize> sizes, expected;
        BoxDriver driver([&](CMessageBox* box) {
            for (const char* name : { "promptLaterButton", "closePromptButton" }) {
                QPushButton* b = button(box, name);
                texts << b->text();
                sizes << b->size();
                expected << QSize(b->sizeHint().width() + 20, 30);
            }
            button(box, "promptLaterButton")->click();
        });
        CWebComm bridge;
        const bool result = bridge.ShowDevAlarmTips(QStringLiteral("门 2 被强行打开"));
        QCoreApplication::removeTranslator(&translator);
        QVERIFY(result);
        QCOMPARE(texts, QStringList({ QStringLiteral("稍后提示"), QStringLiteral("关闭提示") }));
        QCOMPARE(sizes, expected);
        QCOMPARE(CMessageBox::tr("Prompt later"), QStringLiteral("Prompt later"));
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
