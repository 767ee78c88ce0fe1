#pragma once
// The decoded launch string: one process-wide record, written by the entry
// function before any other thread exists and read without locks afterwards.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QString>

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

enum
{
    LAUNCH_BUFFER_SIZE = 1024,   // working buffer: 1023 characters and a terminator
    DEFAULT_PORT_MEDIA = 5918,
    LAUNCH_KEY_BYTES = 8         // frame key bytes taken from the launch string
};

// Launch string handling, in the order start-up applies it.

// Copies the first argument (null counts as empty) into buf, which has
// LAUNCH_BUFFER_SIZE bytes; longer text is cut to LAUNCH_BUFFER_SIZE - 1.
void launch_copy_argument(const char* arg, char* buf);

// Percent-decodes in place: "%" and the two characters after it become one byte,
// 16 * first + second, a non-hex character counting as -1, low 8 bits kept.
// A "%" without two characters after it is copied as it stands.
void launch_percent_decode(char* text);

// Removes every double quote in place.
void launch_remove_quotes(char* text);

// Copy, decode and unquote: the text the rest of start-up works on.
void launch_prepare(const char* arg, char* buf);

// True when the text names a serial port, which means only the companion program runs.
bool launch_is_companion(const char* text);

// Fills para from the text between the first "{" and the last "}".
// mouseMode is reset first; a missing or 0 portMedia becomes DEFAULT_PORT_MEDIA.
void launch_parse(const char* text, SessionParams& para);

// Unsigned 32-bit decimal; anything that is no valid number gives 0.
uint32_t launch_parse_decimal(const char* text, size_t len);

// Hexadecimal bytes after removing blanks, tabs, CR, LF and ";". An odd digit
// count fails with no bytes; a pair that is no hex byte ends the parse as a
// failure, keeping the bytes before it.
bool launch_parse_hex(const char* text, size_t len, std::vector<uint8_t>& out);

// Stores 8 key bytes and length 8; bytes the value did not provide are 0.
void launch_store_key(FrameKey& key, const std::vector<uint8_t>& bytes);

// A TCP port the launch string may name: 1 to 65535. Larger values are not
// cut to 16 bits (65536 + P would reach port P), they are refused.
bool session_port_valid(uint32_t port);

// Why a connection to ip:port is not tried: "<ip>:<port> — port outside
// 1–65535"; empty when the port is valid.
QString session_port_problem(const char* ip, uint32_t port);

// "Orvane V2.1 2018.12.10 - Login User: <userNM> DongleID:<dogID + 1> IP: <ip>"
QString session_window_title(const SessionParams& para);
