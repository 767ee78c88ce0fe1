#pragma once
// KM channel message types and the payloads that are pure byte layouts.
// Framing and enciphering happen in the main window's KM send operation.
#include <array>
#include <cstdint>
#include <string>

// Message type byte (body byte 0).
constexpr unsigned char CMD_KM_KEYBOARD = 3;      // 8-byte keyboard report
constexpr unsigned char CMD_KM_MOUSE_REL = 5;     // 4-byte relative mouse report
constexpr unsigned char CMD_KM_KEEPALIVE = 11;    // 1 byte: 0
constexpr unsigned char CMD_KM_GRAB = 20;         // device only; no effect
constexpr unsigned char CMD_KM_GIVEUP = 21;       // device asks / client answers 0 agreed, 1 refused
constexpr unsigned char CMD_KM_GRAB_RESULT = 22;  // device: 0 granted; client acknowledges with 0
constexpr unsigned char CMD_KM_PRIVILEGE = 23;    // client asks with 0; device: 1 write, else read
constexpr unsigned char CMD_KM_MOUSE_ABS = 44;    // 6-byte absolute mouse report
constexpr unsigned char CMD_KM_USERID = 50;       // 4-byte user id, always sent in clear

// Payload lengths of the client's messages.
constexpr int KM_KEYBOARD_LEN = 8;
constexpr int KM_MOUSE_REL_LEN = 4;
constexpr int KM_MOUSE_ABS_LEN = 6;
constexpr int KM_USERID_LEN = 4;
constexpr int KM_ONE_BYTE_LEN = 1;  // keep-alive, privilege request, give-up answer, grab acknowledgement

// Keyboard report usages: the device takes keypad Enter for either Enter key,
// so the main Enter key's own usage never goes out.
constexpr uint8_t KM_USAGE_ENTER = 0x28;
constexpr uint8_t KM_USAGE_KEYPAD_ENTER = 0x58;
constexpr uint8_t km_report_usage(uint8_t usage)
{
    return usage == KM_USAGE_ENTER ? KM_USAGE_KEYPAD_ENTER : usage;
}

// Absolute button state carried in byte 0 of the absolute report.
constexpr int KM_ABS_NONE = 0;
constexpr int KM_ABS_LEFT = 1;
constexpr int KM_ABS_RIGHT = 2;

// Absolute report: buttons, X and Y on the 1920 x 1200 grid (signed 16-bit,
// little-endian), wheel as a signed byte (-1, 0, 1).
std::array<unsigned char, KM_MOUSE_ABS_LEN> km_mouse_abs_payload(int buttons, int16_t x, int16_t y, int wheel);

// User identification: the id big-endian.
std::array<unsigned char, KM_USERID_LEN> km_userid_payload(uint32_t userID);

// The report bytes in decimal joined by "," ("2,0,4,0,0,0,0,0"), as the key log lines show them.
std::string km_report_text(const unsigned char* bytes, int length);
