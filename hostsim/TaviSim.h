#pragma once

// Controls of the simulated host: what a real host's logic would do on its
// own, made reachable for the demo host, the tests and hosts trying the
// module without the client. Installed with the stand-ins only.

#include "ClientSdk.h"
#include "KelCommand.h"
#include "TaviHostGlobal.h"

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <functional>
#include <list>
#include <string>

namespace TaviSim {

// The process-wide simulated client SDK (request and stream interfaces).
TAVILOGIC_API IClientSdk* clientSdk();
// Sets TaviLogic::m_ClientSdk to clientSdk(), which starts null as in the
// client: the one call a trial host needs for requests.
TAVILOGIC_API void installClientSdk();

// Receives every answer of an asynchronous request, on a worker thread.
// The host wires it to WebViewDataCenter::FuncResponeCallback; the record and
// its strings are valid only during the call.
using ResponseHandler = std::function<void(__tagKelCommand* cmd)>;
// Sets the one ResponseHandler; an empty one drops the answers.
TAVILOGIC_API void setResponseHandler(ResponseHandler handler);

// What a ServerScript makes of one request.
struct ServerAnswer
{
    int refusal = 0; // < 0: the request is refused with this status, no answer follows
    bool never = false; // accepted, never answered
    int ack = 0; // the answer's ack
    std::string body; // the answer's text (UTF-8)
};
// A scripted server: asked first about every request, asynchronous and
// synchronous. It fills answer and returns true, or returns false to leave
// the request to the simulated server's own answer (known commands succeed
// and echo the request).
using ServerScript = std::function<bool(int cmd, const std::string& msg, const std::string& devid,
                                        ServerAnswer& answer)>;
// Sets the one ServerScript; an empty one leaves every request to the
// simulated server.
TAVILOGIC_API void setServerScript(ServerScript script);

// Device data behind ClientData::GetDeviceStatus (three sample devices until
// set); pushing a change to the pages stays the host's DevStatusUpdate.
TAVILOGIC_API void setDeviceStatus(const DeviceStatusMap& status);
// Sets one channel's status in the device data.
TAVILOGIC_API void setChannelStatus(const std::string& devId, int channel, int status);
// The device data as it stands.
TAVILOGIC_API DeviceStatusMap deviceStatus();
// Device ids the host lists besides those with a status: devices that have
// not reported yet. GetDeviceStatus lists them after the others.
TAVILOGIC_API void setPendingDeviceIds(const std::list<std::string>& ids);

// ParamsMgr::isBrisel().
TAVILOGIC_API void setBrisel(bool brisel);

// The host log written by LogMgr::logDebug: every line in memory, and also
// appended to file when one is set.
TAVILOGIC_API QStringList logLines();
// Forgets the lines logLines() returns.
TAVILOGIC_API void clearLog();
// Appends every later line to the file at path as well; an empty path
// stops.
TAVILOGIC_API void setLogFile(const QString& path);

} // namespace TaviSim
