#include "tools/socket/CQUEUE_MESSAGE.h"

#include <cstring>

#include "tools/socket/mt_queue.h"

CQUEUE_MESSAGE::CQUEUE_MESSAGE()
    : length(0), data(nullptr), last_flag(0), tag{}, reserved(-1), reserved_b(0), ack_status(0)
{
}

CQUEUE_MESSAGE::CQUEUE_MESSAGE(uint32_t len, uint8_t* buf, uint8_t flag, const char* tag_text, int32_t reserved_word)
    : length(len), data(buf), last_flag(flag), tag{}, reserved(reserved_word), reserved_b(0), ack_status(0)
{
    set_tag(tag_text);
}

void CQUEUE_MESSAGE::set_tag(const char* text)
{
    std::memset(tag, 0, sizeof tag);
    if (text)
        std::strncpy(tag, text, sizeof tag - 1);
}

void CQUEUE_MESSAGE::free_data()
{
    delete[] data;
    data = nullptr;
    length = 0;
}

int drain_and_free(mt_queue<CQUEUE_MESSAGE>& queue)
{
    int n = 0;
    CQUEUE_MESSAGE msg;
    while (queue.pop(msg)) {
        msg.free_data();
        ++n;
    }
    return n;
}
