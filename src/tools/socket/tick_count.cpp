#include "tools/socket/tick_count.h"

#include <chrono>

uint32_t get_tick_count()
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}
