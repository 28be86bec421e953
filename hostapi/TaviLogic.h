#pragma once

#include "ClientSdk.h"
#include "KelCommand.h"
#include "TaviHostGlobal.h"
#include "TaviTypes.h"

#include <QtCore/QString>
#include <list>
#include <string>

// Entry points of the host's logic library (libTaviLogic).

// The host's notification hook, TaviLogic::s_transmitNotify.
using TransmitNotifyFunc = void (*)(TAVI::_NOTIFY_PARAM* notify);

// What the host's logic library holds for every part of the client.
class TAVILOGIC_API TaviLogic
{
public:
    // The client SDK; read at each use, may be null.
    static IClientSdk* m_ClientSdk;
    // Host notification hook; may be null.
    static TransmitNotifyFunc s_transmitNotify;
};

// The host's device data (taviClientData()).
class TAVILOGIC_API ClientData
{
public:
    ClientData();
    virtual ~ClientData();

    // Fills status with every known device's channel states. ids is the
    // host's list of device ids; callers must not rely on it.
    virtual int GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status);
};

// The host's settings (taviParamsMgr()).
class TAVILOGIC_API ParamsMgr
{
public:
    ParamsMgr();
    virtual ~ParamsMgr();

    // True for the edition with bordered input bars.
    virtual bool isBrisel() const;
};

// The host's log (taviLogMgr()).
class TAVILOGIC_API LogMgr
{
public:
    LogMgr();
    virtual ~LogMgr();

    // Writes one line to the host's log.
    virtual void logDebug(QString line);
};

// The host's one ClientData.
TAVILOGIC_API ClientData* taviClientData();
// The host's one ParamsMgr.
TAVILOGIC_API ParamsMgr* taviParamsMgr();
// The host's one LogMgr.
TAVILOGIC_API LogMgr* taviLogMgr();
