#include "MyMessageBox.h"
