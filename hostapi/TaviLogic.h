#pragma once

#include "ClientSdk.h"
#include "KelCommand.h"
#include "TaviHostGlobal.h"
#include "TaviTypes.h"

#include <QtCore/QString>
#include <list>
#include <string>

// Entry points of the host's logic library (libTaviLogic).

using TransmitNotifyFunc = void (*)(TAVI::_NOTIFY_PARAM* notify);

class TAVILOGIC_API TaviLogic
{
public:
    // The client SDK; read at each use, may be null.
    static IClientSdk* m_ClientSdk;
    // Host notification hook; may be null.
    static TransmitNotifyFunc s_transmitNotify;
};

class TAVILOGIC_API ClientData
{
public:
    ClientData();
    virtual ~ClientData();

    // Fills status with every known device's channel states. ids is the
    // host's list of device ids; callers must not rely on it.
    virtual int GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status);
};

class TAVILOGIC_API ParamsMgr
{
public:
    ParamsMgr();
    virtual ~ParamsMgr();

    // True for the edition with bordered input bars.
    virtual bool isBrisel() const;
};

class TAVILOGIC_API LogMgr
{
public:
    LogMgr();
    virtual ~LogMgr();

    // Writes one line to the host's log.
    virtual void logDebug(QString line);
};

TAVILOGIC_API ClientData* taviClientData();
TAVILOGIC_API ParamsMgr* taviParamsMgr();
TAVILOGIC_API LogMgr* taviLogMgr();
