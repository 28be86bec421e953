#include "PlayVideoDialog.h"
