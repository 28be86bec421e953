#pragma once

#include <cstdint>

// Types shared between the host's libraries and its pages.
namespace TAVI {

// The host's tabs.
enum TabType {
    TAB_NONE = 0,
    TAB_PREVIEW,
    TAB_PLAYBACK,
    TAB_WEBPAGE,
};

// Window states of a page element.
enum StateType {
    STATE_NONE = 0,
    STATE_NORMAL,
    STATE_FULLSCREEN,
};

// View modes of a page element.
enum ModeType {
    MODE_NONE = 0,
    MODE_SINGLE,
    MODE_MULTI,
};

// A host notification: a code and one parameter.
struct _NOTIFY_PARAM
{
    std::int64_t code; // what the host is told
    std::int64_t param; // its one parameter
};

// The host's event-information record handed to a page element.
struct _EVENT_INFO
{
    int nType; // the kind of event, the host's numbering
    int nChannel; // the channel it concerns
    char szDevId[64]; // the device id it concerns, NUL-terminated
};

} // namespace TAVI
