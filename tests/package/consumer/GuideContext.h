#pragma once

// What the host guide's snippets take for granted: a host object and the
// widgets and values they name. The snippets are compiled as written.

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QLocale>
#include <QtCore/QTimer>
#include <QtCore/QTranslator>
#include <QtGui/QDesktopServices>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QTabWidget>
#include <TaviSim.h>
#include <TaviWebPage.h>
#include <VmsWebWidgets.h>
#include <WebAccessPolicy.h>
#include <WebComm.h>
#include <WebPage.h>
#include <WebViewDataCenter.h>

class Host : public QObject
{
public:
    void onPageNotification(QString& msg, QString& sn);
    void onPageNotice(QString& notice) { Q_UNUSED(notice); }
    QString handle(const QString& msg) { return msg; }
    void pushState() {}
};

// Each statement snippet becomes the body of a member function of a class
// derived from QObject, as host code usually is, with these names in scope
// as locals.
#define GUIDE_LOCALS                                                                               \
    [[maybe_unused]] QMainWindow* mainWindow = nullptr;                                            \
    [[maybe_unused]] QTabWidget* tabs = nullptr;                                                   \
    [[maybe_unused]] QWidget* container = nullptr;                                                 \
    [[maybe_unused]] QBoxLayout* layout = nullptr;                                                 \
    [[maybe_unused]] QString url;                                                                  \
    [[maybe_unused]] int width = 0;                                                                \
    [[maybe_unused]] int height = 0;                                                               \
    [[maybe_unused]] Host* host = nullptr;                                                         \
    [[maybe_unused]] QString token;                                                                \
    [[maybe_unused]] QCoreApplication& app = *QCoreApplication::instance();                        \
    [[maybe_unused]] QString prefix;
