#pragma once

#include <QtGui/qwindowdefs.h>
#include <string>

// The host's client SDK interfaces. Implemented by the host's logic library;
// the module only calls them.

// The SDK's server requests (IClientSdk::GetRequestSdk()).
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
    // Cancels the asynchronous request sn; the module never calls it.
    virtual int CancelServerRequest(const char* sn) = 0;
    // Fills sessionId (UTF-8); left empty for an unknown device.
    virtual int QueryDevSessionId(const char* devid, std::string& sessionId) = 0;
};

// The SDK's playback of local video files into a native window
// (IClientSdk::GetStreamSdk()). A handle names one playback, from
// StartFilePlayback() to StopFilePlayback().
class IStreamSdk
{
public:
    virtual ~IStreamSdk() = default;

    // Pauses the playback.
    virtual int PauseFilePlayback(int handle) = 0;
    // Resumes the paused playback.
    virtual int ResumeFilePlayback(int handle) = 0;
    // Moves the playback to pos, in the unit of GetFilePlaybackPos().
    virtual int SeekFilePlayback(int handle, int pos) = 0;
    // Turns the playback's sound on; -1 is failure.
    virtual int OpenSound(int handle) = 0;
    // Turns the playback's sound off.
    virtual int CloseSound(int handle) = 0;
    // Plays the file at path (UTF-8) into the native window wnd. 0 is
    // success; *handle is then >= 0. The last argument is reserved (0).
    virtual int StartFilePlayback(const char* path, WId wnd, int* handle, int reserved) = 0;
    // Ends the playback; its handle is no longer valid.
    virtual int StopFilePlayback(int handle) = 0;
    // 0 when *pos and *total are valid; both in the SDK's own unit.
    virtual int GetFilePlaybackPos(int handle, int* pos, int* total) = 0;
    // Sets the playback's speed; the module never calls it.
    virtual int SetPlaybackSpeed(int handle, int speed) = 0;
};

// The host's client SDK, TaviLogic::m_ClientSdk.
class IClientSdk
{
public:
    virtual ~IClientSdk() = default;

    // The playback interface; may be null when the stream SDK is unavailable.
    virtual IStreamSdk* GetStreamSdk() = 0;
    // The request interface; while it is null, every request fails with -1.
    virtual IRequestSdk* GetRequestSdk() = 0;
    // The SDK's version; the module never calls it.
    virtual int GetVersion() = 0;
};
