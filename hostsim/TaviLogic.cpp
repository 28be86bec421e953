#include "TaviLogic.h"

#include "TaviSim.h"

#include <QtCore/QFile>
#include <QtCore/QMutex>
#include <QtCore/QMutexLocker>
#include <QtCore/QtDebug>
#include <atomic>

IClientSdk* TaviLogic::m_ClientSdk = nullptr;
TransmitNotifyFunc TaviLogic::s_transmitNotify = nullptr;

namespace {

// The module reads device data from its own threads while the demo host
// changes it, so every access goes through the lock.
struct DeviceState
{
    QMutex mutex;
    DeviceStatusMap devices {
        { "cam-lobby", { { 1, 1 }, { 2, 0 } } },
        { "nvr-01", { { 1, 1 }, { 2, 1 }, { 3, 0 }, { 4, 1 } } },
        { "door-02", { { 1, 2 } } },
    };
    std::list<std::string> pendingIds;
};

DeviceState& deviceState()
{
    static DeviceState state;
    return state;
}

struct LogState
{
    QMutex mutex;
    QStringList lines;
    QString filePath;
    bool fileFailed = false;
};

LogState& logState()
{
    static LogState state;
    return state;
}

std::atomic<bool> s_brisel { false };

} // namespace

// ---------------------------------------------------------------------------

ClientData::ClientData() = default;
ClientData::~ClientData() = default;

int ClientData::GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status)
{
    DeviceState& state = deviceState();
    QMutexLocker lock(&state.mutex);
    status = state.devices;
    ids.clear();
    for (const auto& device : state.devices)
        ids.push_back(device.first);
    ids.insert(ids.end(), state.pendingIds.begin(), state.pendingIds.end());
    return 0;
}

ParamsMgr::ParamsMgr() = default;
ParamsMgr::~ParamsMgr() = default;

bool ParamsMgr::isBrisel() const
{
    return s_brisel.load();
}

LogMgr::LogMgr() = default;
LogMgr::~LogMgr() = default;

void LogMgr::logDebug(QString line)
{
    LogState& state = logState();
    QMutexLocker lock(&state.mutex);
    state.lines.append(line);
    if (state.filePath.isEmpty())
        return;

    // Opened per line: the host's log survives rotation and never holds a
    // descriptor the demo wants to delete.
    QFile file(state.filePath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(line.toUtf8());
        file.write("\n", 1);
    } else if (!state.fileFailed) {
        state.fileFailed = true;
        qWarning("TaviLogic: cannot write the log file %s: %s", qUtf8Printable(state.filePath),
                 qUtf8Printable(file.errorString()));
    }
}

ClientData* taviClientData()
{
    static ClientData instance;
    return &instance;
}

ParamsMgr* taviParamsMgr()
{
    static ParamsMgr instance;
    return &instance;
}

LogMgr* taviLogMgr()
{
    static LogMgr instance;
    return &instance;
}

// ---------------------------------------------------------------------------

namespace TaviSim {

void setDeviceStatus(const DeviceStatusMap& status)
{
    DeviceState& state = deviceState();
    QMutexLocker lock(&state.mutex);
    state.devices = status;
}

void setChannelStatus(const std::string& devId, int channel, int status)
{
    DeviceState& state = deviceState();
    QMutexLocker lock(&state.mutex);
    state.devices[devId][channel] = status;
}

DeviceStatusMap deviceStatus()
{
    DeviceState& state = deviceState();
    QMutexLocker lock(&state.mutex);
    return state.devices;
}

void setPendingDeviceIds(const std::list<std::string>& ids)
{
    DeviceState& state = deviceState();
    QMutexLocker lock(&state.mutex);
    state.pendingIds = ids;
}

void setBrisel(bool brisel)
{
    s_brisel.store(brisel);
}

QStringList logLines()
{
    LogState& state = logState();
    QMutexLocker lock(&state.mutex);
    return state.lines;
}

void clearLog()
{
    LogState& state = logState();
    QMutexLocker lock(&state.mutex);
    state.lines.clear();
}

void setLogFile(const QString& path)
{
    LogState& state = logState();
    QMutexLocker lock(&state.mutex);
    state.filePath = path;
    state.fileFailed = false;
}

} // namespace TaviSim
