#pragma once

// Sees the process's fsync, fdatasync, rename and renameat: the test program that
// links this takes those calls over for the whole process, the module's
// shared library included (the program's symbols must be exported), and
// passes them on to the C library.

#include <QtCore/QString>
#include <QtCore/QStringList>

namespace TestSupport {

// While alive, records each such call on a path under folder, in call order
// and from any thread: "fdatasync <path>", "fsync <path>", "rename <from>
// <to>", the folder spelt "{D}" and a writer's temporary file ".tavi-*"
// (also while it has no name yet, as an O_TMPFILE);
// mark() adds a line of the test's own. Calls elsewhere pass unrecorded.
class SyncRecorder
{
public:
    explicit SyncRecorder(const QString& folder);
    ~SyncRecorder();
    SyncRecorder(const SyncRecorder&) = delete;
    SyncRecorder& operator=(const SyncRecorder&) = delete;

    QStringList events() const;
    void mark(const QString& event);
    // From now on the call named (fsync, fdatasync) on a path under folder
    // fails with errorNumber without reaching the disk; 0 lets it through.
    void failCalls(const QString& call, int errorNumber);
};

} // namespace TestSupport
