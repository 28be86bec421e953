#include "TaviWebModuleVersion.h"

const char* taviWebModuleVersion()
{
    return TAVIWEBMODULE_VERSION_STRING;
}
