#include "Logging.h"

// Info and above unless a rule asks for more ("tavi.webmodule.debug=true"):
// a host sees the refusals and failures, not the module's progress.
Q_LOGGING_CATEGORY(lcWebModule, "tavi.webmodule", QtInfoMsg)
