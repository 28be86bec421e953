#pragma once

// Internal to the module: a page's web notifications, shown by the host.
// Qt hands every notification of a profile to one presenter, naming only
// its origin: it goes to the first open page on that profile whose
// document is of that origin and may show notifications.

#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <memory>

class QWebEngineNotification;
class QWebEnginePage;
class QWebEngineProfile;

namespace TaviWebModuleInternal {

// A child of a web widget's page.
class PageNotifications : public QObject
{
    Q_OBJECT
public:
    explicit PageNotifications(QWebEnginePage* page);
    ~PageNotifications() override;
    static PageNotifications* of(const QWebEnginePage* page);

    // The host clicked or closed notification id; false when it is gone.
    bool click(const QString& id);
    bool close(const QString& id);

    // Installs the presenter on profile, once.
    static void presentOn(QWebEngineProfile* profile);

private:
    void show(std::unique_ptr<QWebEngineNotification> notification);

    QHash<QString, QWebEngineNotification*> m_shown; // owned
    int m_next = 0;
};

} // namespace TaviWebModuleInternal
