#pragma once

#include <cstdint>

// Types shared between the host's libraries and its pages.
namespace TAVI {

enum TabType {
    TAB_NONE = 0,
    TAB_PREVIEW,
    TAB_PLAYBACK,
    TAB_WEBPAGE,
};

enum StateType {
    STATE_NONE = 0,
    STATE_NORMAL,
    STATE_FULLSCREEN,
};

enum ModeType {
    MODE_NONE = 0,
    MODE_SINGLE,
    MODE_MULTI,
};

// A host notification: a code and one parameter.
struct _NOTIFY_PARAM
{
    std::int64_t code;
    std::int64_t param;
};

// The host's event-information record handed to a page element.
struct _EVENT_INFO
{
    int nType;
    int nChannel;
    char szDevId[64];
};

} // namespace TAVI
