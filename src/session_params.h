#pragma once
// The decoded launch string: one process-wide record, written by the entry
// function before any other thread exists and read without locks afterwards.
#include <cstdint>

#pragma pack(push, 1)
struct FrameKey
{
    uint8_t len;      // always 8 once start-up has run
    uint8_t key[16];  // room for 16, start-up stores 8
};

struct SessionParams
{
    uint32_t dogID;      // target adapter number (title shows it plus 1)
    uint32_t portKM;
    uint32_t portMedia;  // 5918 when absent or 0
    uint32_t portV;
    uint32_t mouseMode;  // 0 relative, 1 absolute
    FrameKey desEncode;  // inbound frame key: deciphers what the device sends
    FrameKey desDecode;  // outbound frame key: enciphers what the client sends
    char ip[1024];
    char userNM[1024];
    uint32_t userID;
};
#pragma pack(pop)

// The process-wide record.
extern SessionParams g_para;
