#pragma once

// Internal to the module: long work of a bridge call, off the GUI thread.

#include <QtCore/QObject>
#include <atomic>
#include <functional>

namespace TaviWebModuleInternal {

// Runs work on a thread of its own and meanwhile keeps the calling thread
// serving its events in a nested event loop, as a modal dialog does; returns
// once work has returned. The flag that work gets is raised when guard is
// destroyed meanwhile (or the application quits): work should then stop
// early and leave nothing half done. Returns false when guard is gone: the
// caller must not touch it, nor anything it owned.
bool runOffThread(QObject* guard, const std::function<void(const std::atomic<bool>& stop)>& work);

} // namespace TaviWebModuleInternal
