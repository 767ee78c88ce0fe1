// The launch string path of start-up: copy into the working buffer, percent
// decoding, quote removal, the companion test, the key:value parser and the
// window title; and the number and key parsers on their own, over text that
// is not terminated.
//
// Input: the first argument as the launcher would pass it (up to the first
// NUL byte, as an argument vector cannot hold one).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "fuzz_common.h"
#include "session_params.h"

namespace {

void check_record(const SessionParams& para)
{
    FUZZ_CHECK(std::memchr(para.ip, '\0', sizeof para.ip) != nullptr);
    FUZZ_CHECK(std::memchr(para.userNM, '\0', sizeof para.userNM) != nullptr);
    FUZZ_CHECK(para.desEncode.len == 0 || para.desEncode.len == LAUNCH_KEY_BYTES);
    FUZZ_CHECK(para.desDecode.len == 0 || para.desDecode.len == LAUNCH_KEY_BYTES);
    // Never connect the media channel to port 0.
    FUZZ_CHECK(para.portMedia != 0);
    const QString title = session_window_title(para);
    FUZZ_CHECK(title.startsWith(QStringLiteral("Orvane V2.1 2018.12.10 - Login User: ")));
}

void parse_into_fresh_record(const char* text)
{
    SessionParams para = {};
    launch_parse(text, para);
    check_record(para);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The argument exactly as long as it is, terminator included.
    const size_t arg_len = strnlen(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<uint8_t[]> arg(new uint8_t[arg_len + 1]);
    std::memcpy(arg.get(), data, arg_len);
    arg[arg_len] = '\0';
    const char* argument = reinterpret_cast<const char*>(arg.get());

    char buf[LAUNCH_BUFFER_SIZE];
    std::memset(buf, 0x5a, sizeof buf);
    launch_prepare(argument, buf);
    const size_t len = strnlen(buf, sizeof buf);
    FUZZ_CHECK(len < sizeof buf);
    FUZZ_CHECK(len <= arg_len);
    FUZZ_CHECK(std::memchr(buf, '"', len) == nullptr);

    if (!launch_is_companion(buf))
        parse_into_fresh_record(buf);
    // The parser itself takes any text, also longer than the working buffer.
    parse_into_fresh_record(argument);

    // The value parsers get text that is not terminated.
    auto raw = fuzz::exact_copy(data, size);
    const char* text = reinterpret_cast<const char*>(raw.get());
    std::vector<uint8_t> bytes;
    launch_parse_hex(text, size, bytes);
    FUZZ_CHECK(bytes.size() <= size / 2);
    FrameKey key = {};
    launch_store_key(key, bytes);
    FUZZ_CHECK(key.len == LAUNCH_KEY_BYTES);

    const uint32_t value = launch_parse_decimal(text, size);
    bool digits_only = size > 0 && size <= 9;
    for (size_t i = 0; i < size && digits_only; ++i)
        digits_only = data[i] >= '0' && data[i] <= '9';
    if (digits_only)
        FUZZ_CHECK(value == std::stoul(std::string(text, size)));
    return 0;
}
