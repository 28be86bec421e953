#include "Logging.h"

Q_LOGGING_CATEGORY(lcWebModule, "tavi.webmodule")
