#pragma once

// Internal to the module: the text of a server request's line, as hosts
// read it word for word. Every page call builds one, so it is written by
// hand, not through the debug stream, to the same characters.

#include <QtCore/QString>

namespace TaviWebModuleInternal {

// "RequestToServer:cmd= <cmd> devid= <devid> sn= <sn> param= <msg>", each
// text quoted and escaped as qDebug() writes a QString, a null one as "".
QString requestLine(int cmd, const char* msg, const char* sn, const char* devid);

} // namespace TaviWebModuleInternal
