#include "StatusWriter.h"

#include "DeviceStatusJson.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThreadPool>
#include <memory>
#include <mutex>

namespace TaviWebModuleInternal {

namespace {

struct StatusWriter
{
    QThreadPool pool; // one thread: the texts keep the order of the calls
    std::mutex mutex;
    size_t waiting = 0; // texts handed to the pool and not yet received

    StatusWriter() { pool.setMaxThreadCount(1); }

    static StatusWriter& instance()
    {
        static StatusWriter writer;
        return writer;
    }

    void received()
    {
        std::lock_guard<std::mutex> lock(mutex);
        --waiting;
    }
};

} // namespace

void writeDeviceStatus(const DeviceStatusMap& status,
                       std::function<void(const QString& text)> deliver)
{
    StatusWriter& writer = StatusWriter::instance();
    size_t channels = 0;
    for (const auto& device : status)
        channels += device.second.size();
    {
        std::unique_lock<std::mutex> lock(writer.mutex);
        if (writer.waiting == 0 && channels <= kStatusWrittenAtOnce) {
            lock.unlock();
            deliver(deviceStatusJson(status));
            return;
        }
        ++writer.waiting;
    }
    auto snapshot = std::make_shared<const DeviceStatusSnapshot>(status);
    writer.pool.start([snapshot, deliver = std::move(deliver)]() mutable {
        const QString text = deviceStatusJson(*snapshot);
        snapshot.reset();
        deliver(text);
        // Received once the application's thread has delivered what is
        // queued for it up to here.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { StatusWriter::instance().received(); }, Qt::QueuedConnection);
        else
            StatusWriter::instance().received();
    });
}

} // namespace TaviWebModuleInternal
