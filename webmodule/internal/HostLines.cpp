#include "HostLines.h"

#include "LogText.h"

#include <TaviLogic.h>

namespace TaviWebModuleInternal::HostLine {

void log(const QString& line)
{
    taviLogMgr()->logDebug(escapeForLog(line));
}

} // namespace TaviWebModuleInternal::HostLine
