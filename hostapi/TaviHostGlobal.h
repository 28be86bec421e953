#pragma once

#include <QtCore/qglobal.h>

// Visibility of the host libraries' symbols. The host libraries define the
// *_LIBRARY macro while they are built; everyone else imports.
#if defined(TAVILOGIC_LIBRARY)
#define TAVILOGIC_API Q_DECL_EXPORT
#else
#define TAVILOGIC_API Q_DECL_IMPORT
#endif

#if defined(TAVICOMMONUI_LIBRARY)
#define TAVICOMMONUI_API Q_DECL_EXPORT
#else
#define TAVICOMMONUI_API Q_DECL_IMPORT
#endif
