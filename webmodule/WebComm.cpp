#include "WebComm.h"
