#pragma once
// Physical keys: Linux evdev key codes (what X11 and Wayland carry, as the X
// keycode = evdev code + 8) to USB HID usages of the keyboard page (0x07).
// The remote computer's own layout then decides which character a key types.
#include <cstdint>
#include <utility>
#include <vector>

// Usage of an evdev key code; 0 when the key has none (or is left out on
// purpose, such as the power key).
uint8_t hid_usage_for_evdev(unsigned evdevCode);

// Usage of an X11 keycode (evdev code + 8); 0 below 8 or when unknown.
uint8_t hid_usage_for_x11_keycode(unsigned keycode);

// Bit of report byte 0 for a modifier usage (0xE0 left Control ... 0xE7 right
// GUI); 0 for every other usage.
uint8_t hid_modifier_bit(uint8_t usage);

// The whole table as (evdev code, usage) pairs, in evdev order.
const std::vector<std::pair<uint16_t, uint8_t> >& hid_evdev_table();
