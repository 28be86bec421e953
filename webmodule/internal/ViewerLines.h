#pragma once

// Internal to the module: the lines a viewer writes for a file it cannot
// open, also for a path the bridge refuses to hand to it, so that a refused
// call reads in the host's log as one for a file that is not there (the
// refusal's own line says why).

#include <QtCore/QString>

namespace TaviWebModuleInternal {

// ImageDialog's line for a picture it cannot load (in ImageDialog.cpp).
void logPictureNotLoaded();
// PlayVideoDialog::LoadVideo's lines for a file that is not there (in
// PlayVideoDialog.cpp).
void logVideoNotThere(const QString& path);

} // namespace TaviWebModuleInternal
