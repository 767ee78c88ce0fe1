#pragma once
// Mouse samples per second, process-wide; kept in config.xml.
#include <cstdint>

extern int32_t mouseRate;

constexpr int32_t MOUSE_RATE_DEFAULT = 50;

// The sampling interval in ms, 1000 / mouseRate; the default interval when the
// rate is not positive.
int mouse_sample_interval_ms();
