#pragma once

// Internal to the module: the device status texts of the host's pushes,
// written in the order of the calls. Those of big maps are written on a
// thread of the module's own, so that neither the host's thread nor the GUI
// thread waits for them.

#include <KelCommand.h>
#include <QtCore/QString>
#include <cstddef>
#include <functional>

namespace TaviWebModuleInternal {

// Maps with at most this many channels are written at once, on the caller's
// thread, as long as no text is waiting before them.
constexpr size_t kStatusWrittenAtOnce = 4096;

// Writes the text of status (deviceStatusJson) and hands it to deliver:
// before returning, on the caller's thread, or later on the writer's own.
// status is read during the call only. A text handed on from the writer's
// thread counts as waiting until the application's thread has delivered
// what was queued for it meanwhile: one written at once must not overtake
// it at a receiver there.
void writeDeviceStatus(const DeviceStatusMap& status,
                       std::function<void(const QString& text)> deliver);

} // namespace TaviWebModuleInternal
