#include "WebPage.h"
