#pragma once

// Internal to the module: forcing written files and their folder entries to
// the disk, so that a write reported done survives a power loss or a USB
// stick pulled at once.

#include <QtCore/QString>

namespace TaviWebModuleInternal {

// Forces the data of the open file fd to the disk (fdatasync). False, with
// the reason in error, when the disk did not take it.
bool syncFile(int fd, QString* error = nullptr);
// The same for the file at path, opened for it.
bool syncFile(const QString& path, QString* error = nullptr);

// Forces the entries of the folder at path to the disk (fsync of the folder),
// which makes a file renamed or created in it stay there.
bool syncDirectory(const QString& path, QString* error = nullptr);
// The same for a folder that is open already.
bool syncDirectory(int dirfd, QString* error = nullptr);

} // namespace TaviWebModuleInternal
