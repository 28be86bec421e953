#include "OffThread.h"

#include <QtCore/QEventLoop>
#include <QtCore/QPointer>
#include <QtCore/QThread>
#include <memory>

namespace TaviWebModuleInternal {

bool runOffThread(QObject* guard, const std::function<void(const std::atomic<bool>& stop)>& work)
{
    const QPointer<QObject> alive(guard);
    std::atomic<bool> stop { false };
    std::atomic<bool> done { false };
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        work(stop);
        done = true;
    }));
    // Queued into this thread: the loop ends only after the work.
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    if (guard)
        QObject::connect(guard, &QObject::destroyed, &loop, [&stop] { stop = true; });
    thread->start();
    loop.exec();
    // The loop also ends when the application quits: the work stops then.
    if (!done)
        stop = true;
    thread->wait();
    return !alive.isNull();
}

} // namespace TaviWebModuleInternal
