#include "PagePolicy.h"

#include "SideObject.h"
#include "WebAccessPolicy.h"

#include <QtCore/QHash>
#include <QtWebEngineCore/QWebEnginePage>
#include <mutex>

namespace TaviWebModuleInternal {

namespace {

// Pages and bridges to their own policies: workers judge the bridge's paths
// too, and must not walk a page's children meanwhile.
struct Owners
{
    std::mutex mutex;
    QHash<const QObject*, WebAccessPolicy*> policies;
};

Owners& owners()
{
    static Owners o;
    return o;
}

} // namespace

PagePolicy::PagePolicy(QWebEnginePage* page)
    : QObject(page)
    , m_owners { page }
{
    set(nullptr);
}

PagePolicy::~PagePolicy()
{
    std::lock_guard<std::mutex> lock(owners().mutex);
    for (const QObject* owner : std::as_const(m_owners))
        owners().policies.remove(owner);
}

PagePolicy* PagePolicy::of(const QWebEnginePage* page)
{
    return sideObject<PagePolicy>(page);
}

void PagePolicy::set(WebAccessPolicy* policy)
{
    const bool first = !m_connection;
    if (!first && policy == m_policy)
        return;
    disconnect(m_connection);
    disconnect(m_destroyed);
    m_policy = policy;
    {
        std::lock_guard<std::mutex> lock(owners().mutex);
        for (const QObject* owner : std::as_const(m_owners))
            if (policy)
                owners().policies.insert(owner, policy);
            else
                owners().policies.remove(owner);
    }
    WebAccessPolicy* judge = policy ? policy : &WebAccessPolicy::global();
    m_connection = connect(judge, &WebAccessPolicy::changed, this, &PagePolicy::changed);
    if (policy)
        // The host deleting it: the global one judges again.
        m_destroyed = connect(policy, &QObject::destroyed, this, [this] { set(nullptr); });
    if (!first)
        Q_EMIT changed();
}

WebAccessPolicy& PagePolicy::policy() const
{
    return m_policy ? *m_policy : WebAccessPolicy::global();
}

void PagePolicy::addOwner(const QObject* owner)
{
    m_owners << owner;
    std::lock_guard<std::mutex> lock(owners().mutex);
    if (m_policy)
        owners().policies.insert(owner, m_policy);
}

WebAccessPolicy& policyFor(const QObject* owner)
{
    std::lock_guard<std::mutex> lock(owners().mutex);
    WebAccessPolicy* own = owner ? owners().policies.value(owner) : nullptr;
    return own ? *own : WebAccessPolicy::global();
}

} // namespace TaviWebModuleInternal
