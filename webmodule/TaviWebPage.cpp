#include "TaviWebPage.h"
