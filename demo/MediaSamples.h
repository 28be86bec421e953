#pragma once

#include <QtCore/QString>
#include <QtGui/QImage>

// Sample media made at run time, so that the repository ships no pictures or
// sounds of its own.
namespace MediaSamples {

// A 1920 x 1080 camera-style snapshot of a loading bay.
QImage snapshot();
// snapshot() as PNG; false on failure.
bool writeSnapshot(const QString& path);
// A short two-tone chime as 16-bit PCM WAV; false on failure.
bool writeChime(const QString& path);
// A short bell as 16-bit PCM WAV; false on failure.
bool writeBell(const QString& path);

} // namespace MediaSamples
