#pragma once

// Internal to the module: one file copy of the bridge, on whichever thread
// runs it.

#include <QtCore/QString>
#include <atomic>

namespace TaviWebModuleInternal {

// Copies source to target (see CWebComm::CopyFileProcess), with its log
// lines; true when the copy was written. When stop is raised meanwhile the
// copy ends early and writes nothing: no target, no temporary file.
bool copyFile(const QString& source, const QString& target,
              const std::atomic<bool>* stop = nullptr);

} // namespace TaviWebModuleInternal
