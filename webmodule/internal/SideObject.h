#pragma once

// Internal to the module: the state the module keeps per page, which the
// classes hosts compiled against cannot hold, lives in side objects: direct
// QObject children of the page, its web widget or its bridge, one of each
// class, which end with their owner.

#include <QtCore/QObject>

namespace TaviWebModuleInternal {

// owner's side object of class T, or null (also for a null owner).
template<class T> T* sideObject(const QObject* owner)
{
    return owner ? owner->findChild<T*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

} // namespace TaviWebModuleInternal
