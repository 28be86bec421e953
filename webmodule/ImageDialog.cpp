#include "ImageDialog.h"
