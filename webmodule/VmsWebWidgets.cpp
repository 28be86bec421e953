#include "VmsWebWidgets.h"
