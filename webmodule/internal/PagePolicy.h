#pragma once

// Internal to the module: the WebAccessPolicy that judges one page. A page
// may carry a policy of its own (VmsWebWidgets::setAccessPolicy); without
// one, or once the host has deleted it, the process's global policy.

#include <QtCore/QObject>

class QWebEnginePage;
class WebAccessPolicy;

namespace TaviWebModuleInternal {

// A child of the page; changed() when the page's policy is replaced or
// changes.
class PagePolicy : public QObject
{
    Q_OBJECT
public:
    explicit PagePolicy(QWebEnginePage* page);
    ~PagePolicy() override;
    static PagePolicy* of(const QWebEnginePage* page);

    // Null: the global one again. GUI thread.
    void set(WebAccessPolicy* policy);
    WebAccessPolicy& policy() const;
    // owner (the page's bridge) is judged by this page's policy too.
    void addOwner(const QObject* owner);

Q_SIGNALS:
    void changed();

private:
    WebAccessPolicy* m_policy = nullptr; // null once the host deleted it
    QMetaObject::Connection m_connection;
    QMetaObject::Connection m_destroyed;
    QList<const QObject*> m_owners;
};

// The policy that judges owner: a page or its bridge, from any thread; the
// global policy for null and anything else.
WebAccessPolicy& policyFor(const QObject* owner);

} // namespace TaviWebModuleInternal
