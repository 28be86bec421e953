#pragma once

// Internal to the module: one file copy of the bridge, on whichever thread
// runs it.

#include "RootedFiles.h"

#include <QtCore/QObject>
#include <QtCore/QString>
#include <atomic>
#include <functional>

namespace TaviWebModuleInternal {

// Copies source to target (see CWebComm::CopyFileProcess), with its log
// lines; true when the copy was written. When stop is raised meanwhile the
// copy ends early and writes nothing: no target, no temporary file. The
// source is read and the target written beneath their roots (see
// RootedFiles.h); without roots, as the system finds them. progress, if
// given, hears the bytes done of the total after each chunk, on the copying
// thread.
using CopyProgress = std::function<void(qint64 done, qint64 total)>;
bool copyFile(const QString& source, const QString& target, const FileRoots& roots = FileRoots(),
              const std::atomic<bool>* stop = nullptr, const CopyProgress& progress = {});
// The line copyFile writes for a source it cannot open, for an order the
// bridge refused before copying (source or target): "Source file does not
// exist: " when nothing is there under the source's name, else "Failed to
// open files for copying.".
void logRefusedCopy(const QString& source);

// How often a bridge's page hears a copy's progress: a side object of the
// bridge, set through VmsWebWidgets::setCopyProgressInterval.
class CopyProgressInterval : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultMs = 250;
    // Every ms while an order is copied; 0: after each chunk, and once the
    // bytes are all there.
    static int of(const QObject* bridge);
    static void set(QObject* bridge, int ms);

private:
    explicit CopyProgressInterval(QObject* bridge);
    int m_ms = kDefaultMs;
};

} // namespace TaviWebModuleInternal
