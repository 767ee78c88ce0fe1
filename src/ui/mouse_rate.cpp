#include "ui/mouse_rate.h"

int32_t mouseRate = MOUSE_RATE_DEFAULT;

int mouse_sample_interval_ms()
{
    return mouseRate > 0 ? 1000 / mouseRate : 1000 / MOUSE_RATE_DEFAULT;
}
