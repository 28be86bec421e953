#pragma once

#include <cstddef>
#include <map>
#include <string>

// The host's command record. The module reads sn, msg and ack only; the
// reserved bytes belong to the host and keep the fields at the offsets the
// host's binary layout has on 64-bit Linux.
struct __tagKelCommand
{
    char* sn; // NUL-terminated UTF-8, may be null
    char reserved0[128]; // the host's, never read
    char* msg; // NUL-terminated UTF-8, may be null
    char reserved1[24]; // the host's, never read
    int ack; // result code, passed on unchanged
    char reserved2[84]; // the host's, never read
};

static_assert(sizeof(void*) != 8 || offsetof(__tagKelCommand, sn) == 0, "sn must be at offset 0");
static_assert(sizeof(void*) != 8 || offsetof(__tagKelCommand, msg) == 136,
              "msg must be at offset 136");
static_assert(sizeof(void*) != 8 || offsetof(__tagKelCommand, ack) == 168,
              "ack must be at offset 168");

// Device id (UTF-8) -> channel number -> status code.
using DeviceStatusMap = std::map<std::string, std::map<int, int>>;
