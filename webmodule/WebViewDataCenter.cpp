#include "WebViewDataCenter.h"
