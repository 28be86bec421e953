#pragma once

#include <QtGui/qwindowdefs.h>
#include <string>

// The host's client SDK interfaces. Implemented by the host's logic library;
// the module only calls them.

class IRequestSdk
{
public:
    virtual ~IRequestSdk() = default;

    // Asynchronous request; the answer arrives later through the host's
    // response callback carrying the same sn.
    virtual int SendServerRequest(int cmd, const char* msg, const char* sn, char* devid) = 0;
    // Synchronous request; result receives the UTF-8 answer.
    virtual int SendServerRequestSync(int cmd, const char* msg, char* devid, int timeout,
                                      std::string& result)
        = 0;
    virtual int CancelServerRequest(const char* sn) = 0;
    // Fills sessionId (UTF-8); left empty for an unknown device.
    virtual int QueryDevSessionId(const char* devid, std::string& sessionId) = 0;
};

class IStreamSdk
{
public:
    virtual ~IStreamSdk() = default;

    virtual int PauseFilePlayback(int handle) = 0;
    virtual int ResumeFilePlayback(int handle) = 0;
    virtual int SeekFilePlayback(int handle, int pos) = 0;
    // -1 is failure.
    virtual int OpenSound(int handle) = 0;
    virtual int CloseSound(int handle) = 0;
    // 0 is success; *handle is then >= 0. The last argument is reserved (0).
    virtual int StartFilePlayback(const char* path, WId wnd, int* handle, int reserved) = 0;
    virtual int StopFilePlayback(int handle) = 0;
    // 0 when *pos and *total are valid; both in the SDK's own unit.
    virtual int GetFilePlaybackPos(int handle, int* pos, int* total) = 0;
    virtual int SetPlaybackSpeed(int handle, int speed) = 0;
};

class IClientSdk
{
public:
    virtual ~IClientSdk() = default;

    // May be null when the stream SDK is unavailable.
    virtual IStreamSdk* GetStreamSdk() = 0;
    virtual IRequestSdk* GetRequestSdk() = 0;
    virtual int GetVersion() = 0;
};
