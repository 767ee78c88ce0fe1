#pragma once
// Mouse samples per second, process-wide; kept in config.xml.
#include <cstdint>

extern int32_t mouseRate;

constexpr int32_t MOUSE_RATE_DEFAULT = 50;
constexpr int32_t MOUSE_RATE_MAX = 100;  // the settings slider's upper end
// config.xml may hold more than the slider offers; above this the sampling
// interval, 1000 / rate ms, would be 0.
constexpr int32_t MOUSE_RATE_READ_MAX = 1000;

// The sampling interval in ms, 1000 / mouseRate; the default interval when the
// rate is not positive.
int mouse_sample_interval_ms();
