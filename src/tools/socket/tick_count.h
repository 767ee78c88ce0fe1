#pragma once
// Millisecond tick counter: monotonic milliseconds truncated to 32 bits
// (wraps after about 49.7 days; compare with unsigned subtraction).
#include <cstdint>

uint32_t get_tick_count();
