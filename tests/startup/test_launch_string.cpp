// Launch string decoding and parsing, from the raw first argument to the record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "session_params.h"

namespace {

std::string prepared(const std::string& arg)
{
    char buf[LAUNCH_BUFFER_SIZE];
    launch_prepare(arg.c_str(), buf);
    return buf;
}

SessionParams parsed(const std::string& arg, SessionParams p = SessionParams{})
{
    char buf[LAUNCH_BUFFER_SIZE];
    launch_prepare(arg.c_str(), buf);
    launch_parse(buf, p);
    return p;
}

std::vector<uint8_t> key_bytes(const FrameKey& k)
{
    return std::vector<uint8_t>(k.key, k.key + 8);
}

const std::vector<uint8_t> kKey = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

}  // namespace

TEST(LaunchString, RecordLayoutIsPacked)
{
    EXPECT_EQ(sizeof(FrameKey), 17u);
    EXPECT_EQ(offsetof(SessionParams, desEncode), 20u);
    EXPECT_EQ(offsetof(SessionParams, desDecode), 37u);
    EXPECT_EQ(offsetof(SessionParams, ip), 54u);
    EXPECT_EQ(offsetof(SessionParams, userID), 54u + 2048u);
    EXPECT_EQ(sizeof(SessionParams), 54u + 2048u + 4u);
}

TEST(LaunchString, PercentDecoding)
{
    EXPECT_EQ(prepared("%7B%3A%2C%7D"), "{:,}");
    EXPECT_EQ(prepared("%7b%3a%2c%7d"), "{:,}");
    EXPECT_EQ(prepared("a+b%20c"), "a+b c");
    // A non-hex character counts as -1.
    EXPECT_EQ(prepared("%4g"), "?");
    EXPECT_EQ(prepared("%gg"), std::string(1, '\xEF'));  // -17
    EXPECT_EQ(prepared("%0z"), std::string(1, '\xFF'));  // -1
    EXPECT_EQ(prepared("%z0"), std::string(1, '\xF0'));  // -16
    // Too short to be a code: copied as it stands, nothing read past the text.
    EXPECT_EQ(prepared("ab%"), "ab%");
    EXPECT_EQ(prepared("ab%4"), "ab%4");
    EXPECT_EQ(prepared("%"), "%");
    // A decoded "%" is not decoded again.
    EXPECT_EQ(prepared("%2541"), "%41");
    // %22 becomes a double quote, and every double quote is removed.
    EXPECT_EQ(prepared("%22a%22\"b\""), "ab");
    EXPECT_EQ(prepared(""), "");
    char buf[LAUNCH_BUFFER_SIZE];
    launch_prepare(nullptr, buf);
    EXPECT_STREQ(buf, "");
}

TEST(LaunchString, QuotedPartsParseLikeUnquoted)
{
    const std::string quoted =
        "%7B%22ip%22%3A%2210.0.0.5%22%2C%22portKM%22%3A%229000%22%2C%22portV%22%3A%229001%22%2C"
        "%22userNM%22%3A%22bob%22%2C%22desEncode%22%3A%220123456789abcdef%22%7D";
    const std::string plain = "{ip:10.0.0.5,portKM:9000,portV:9001,userNM:bob,desEncode:0123456789abcdef}";
    SessionParams a = parsed(quoted);
    SessionParams b = parsed(plain);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_STREQ(a.ip, "10.0.0.5");
    EXPECT_EQ(uint32_t(a.portKM), 9000u);
    EXPECT_EQ(uint32_t(a.portV), 9001u);
    EXPECT_STREQ(a.userNM, "bob");
    EXPECT_EQ(a.desEncode.len, 8);
    EXPECT_EQ(key_bytes(a.desEncode), kKey);
    EXPECT_EQ(a.desDecode.len, 0);  // not given
}

TEST(LaunchString, KeysNumbersAndDefaults)
{
    // portMedia: 0, not a number, or absent all give the default port.
    EXPECT_EQ(uint32_t(parsed("{portMedia:0}").portMedia), 5918u);
    EXPECT_EQ(uint32_t(parsed("{portMedia:x}").portMedia), 5918u);
    EXPECT_EQ(uint32_t(parsed("{ip:1.2.3.4}").portMedia), 5918u);
    EXPECT_EQ(uint32_t(parsed("").portMedia), 5918u);
    EXPECT_EQ(uint32_t(parsed("{portMedia:6000}").portMedia), 6000u);

    // Keys match by prefix, in table order.
    EXPECT_STREQ(parsed("{ipaddr:1.2.3.4}").ip, "1.2.3.4");
    EXPECT_EQ(uint32_t(parsed("{portKMX:7}").portKM), 7u);
    EXPECT_EQ(uint32_t(parsed("{portVideo:8}").portV), 8u);
    EXPECT_EQ(uint32_t(parsed("{userIDx:8}").userID), 8u);

    // Empty parts dropped, the last value wins.
    EXPECT_STREQ(parsed("{ip:1.1.1.1,,ip:2.2.2.2}").ip, "2.2.2.2");
    // A part without ":" is its own value.
    EXPECT_STREQ(parsed("{ip}").ip, "ip");
    // Only the first ":" separates.
    EXPECT_STREQ(parsed("{userNM:a:b}").userNM, "a:b");
    // Unknown parts, text before "{" and after "}" are ignored; keys are case-sensitive.
    SessionParams p = parsed("junk{foo:1,IP:9.9.9.9,dogID:4}tail,ip:3.3.3.3");
    EXPECT_EQ(uint32_t(p.dogID), 4u);
    EXPECT_STREQ(p.ip, "");
    // Without braces the whole text is the body.
    p = parsed("ip:5.5.5.5,portV:12");
    EXPECT_STREQ(p.ip, "5.5.5.5");
    EXPECT_EQ(uint32_t(p.portV), 12u);
    // The body ends at the last "}".
    EXPECT_STREQ(parsed("{userNM:a}b}").userNM, "a}b");

    // Unsigned 32-bit conversion; anything else is 0.
    EXPECT_EQ(uint32_t(parsed("{userID:4294967295}").userID), 4294967295u);
    EXPECT_EQ(uint32_t(parsed("{userID:4294967296}").userID), 0u);
    EXPECT_EQ(uint32_t(parsed("{userID:-1}").userID), 0u);
    EXPECT_EQ(uint32_t(parsed("{userID:12abc}").userID), 0u);
    EXPECT_EQ(uint32_t(parsed("{userID:}").userID), 0u);
    EXPECT_EQ(uint32_t(parsed("{portKM:0x10}").portKM), 0u);

    // mouseMode starts at 0 whatever the record held; other fields keep their values.
    SessionParams before{};
    before.mouseMode = 1;
    before.portV = 77;
    p = parsed("{ip:1.1.1.1}", before);
    EXPECT_EQ(uint32_t(p.mouseMode), 0u);
    EXPECT_EQ(uint32_t(p.portV), 77u);
    EXPECT_EQ(uint32_t(parsed("{mouseMode:1}", before).mouseMode), 1u);
}

TEST(LaunchString, FrameKeys)
{
    // Pairs separated by blanks, tabs, semicolons, CR and LF give the same bytes.
    SessionParams p = parsed("{desEncode:01 23;45\t67%0D%0A89;ab cd;ef,desDecode:0123456789ABCDEF}");
    EXPECT_EQ(p.desEncode.len, 8);
    EXPECT_EQ(key_bytes(p.desEncode), kKey);
    EXPECT_EQ(p.desDecode.len, 8);
    EXPECT_EQ(key_bytes(p.desDecode), kKey);

    // More than 8 bytes: the first 8 are taken.
    EXPECT_EQ(key_bytes(parsed("{desEncode:0123456789abcdef0011}").desEncode), kKey);
    // Fewer than 8 bytes: the rest is 0, the length still 8.
    p = parsed("{desEncode:a1b2}");
    EXPECT_EQ(p.desEncode.len, 8);
    EXPECT_EQ(key_bytes(p.desEncode), (std::vector<uint8_t>{0xa1, 0xb2, 0, 0, 0, 0, 0, 0}));
    // Odd digit count: no bytes at all.
    p = parsed("{desEncode:0123456789abcde}");
    EXPECT_EQ(p.desEncode.len, 8);
    EXPECT_EQ(key_bytes(p.desEncode), std::vector<uint8_t>(8, 0));
    // A malformed pair ends the parse; the bytes before it are kept.
    p = parsed("{desDecode:0123zz6789abcdef}");
    EXPECT_EQ(p.desDecode.len, 8);
    EXPECT_EQ(key_bytes(p.desDecode), (std::vector<uint8_t>{0x01, 0x23, 0, 0, 0, 0, 0, 0}));
    // A second key value replaces all 8 bytes of the first.
    p = parsed("{desEncode:ffffffffffffffff,desEncode:11}");
    EXPECT_EQ(key_bytes(p.desEncode), (std::vector<uint8_t>{0x11, 0, 0, 0, 0, 0, 0, 0}));

    std::vector<uint8_t> out;
    EXPECT_TRUE(launch_parse_hex(" 0a;Fb ", 7, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x0a, 0xfb}));
    EXPECT_FALSE(launch_parse_hex("0a+b", 4, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x0a}));
    EXPECT_FALSE(launch_parse_hex("abc", 3, out));
    EXPECT_TRUE(out.empty());
}

TEST(LaunchString, WindowTitle)
{
    SessionParams p = parsed("{dogID:2,userNM:admin,ip:10.1.1.9}");
    EXPECT_EQ(uint32_t(p.dogID), 2u);
    EXPECT_EQ(session_window_title(p), QString("Orvane V2.1 2018.12.10 - Login User: admin DongleID:3 IP: 10.1.1.9"));
    EXPECT_EQ(session_window_title(SessionParams{}), QString("Orvane V2.1 2018.12.10 - Login User:  DongleID:1 IP: "));
    // Place markers in the user name stay as written.
    p = parsed("{userNM:%252 %251,ip:1.1.1.1}");
    EXPECT_EQ(session_window_title(p), QString("Orvane V2.1 2018.12.10 - Login User: %2 %1 DongleID:1 IP: 1.1.1.1"));
    p = parsed("{dogID:4294967295}");
    EXPECT_TRUE(session_window_title(p).contains("DongleID:4294967296 "));
}

TEST(LaunchString, CompanionModeDetection)
{
    EXPECT_EQ(prepared("xyz%20portCOM:3"), "xyz portCOM:3");
    EXPECT_TRUE(launch_is_companion(prepared("xyz portCOM:3").c_str()));
    EXPECT_TRUE(launch_is_companion(prepared("%7B%22portCOM%22%3A3%7D").c_str()));
    EXPECT_FALSE(launch_is_companion(prepared("{portcom:3}").c_str()));
    EXPECT_FALSE(launch_is_companion(prepared("{portKM:3}").c_str()));
}

TEST(LaunchString, BadInputNeverOverrunsAndKeepsDefaults)
{
    // 100 KB argument: cut to 1023 characters; a key beyond the cut is never seen.
    std::string big = "{ip:1.2.3.4,userNM:" + std::string(100 * 1024, 'u') + ",portKM:5}";
    char buf[LAUNCH_BUFFER_SIZE];
    launch_prepare(big.c_str(), buf);
    EXPECT_EQ(std::strlen(buf), 1023u);
    SessionParams p = parsed(big);
    EXPECT_STREQ(p.ip, "1.2.3.4");
    EXPECT_EQ(std::strlen(p.userNM), 1023u - std::strlen("{ip:1.2.3.4,userNM:"));
    EXPECT_EQ(uint32_t(p.portKM), 0u);
    EXPECT_FALSE(launch_is_companion(prepared(std::string(2000, 'x') + "portCOM").c_str()));

    // A "%" exactly at the cut: the code is incomplete and copied as it stands.
    std::string edge = std::string(1021, 'a') + "%41";
    EXPECT_EQ(prepared(edge), std::string(1021, 'a') + "%4");

    // Percent codes everywhere: 3069 characters cut to 1023, decoded to 341 bytes.
    std::string codes;
    for (int i = 0; i < 1023; ++i)
        codes += "%7B";
    EXPECT_EQ(prepared(codes), std::string(341, '{'));

    // Garbage, invalid UTF-8, control bytes and decoded NULs.
    const std::vector<std::string> junk = {
        "}}}{{{",        "{,,,,}",          "{:::}",         "\xff\xfe{ip:\xc3\x28,userNM:\xe2\x82}",
        "{userNM:a\x01\x02\x1b[31m}", "%00{ip:1.1.1.1}", "{ip:1.1.1.1%00,portKM:3}", "{%ff%fe%fd}",
        "%%%%%%",        "{desEncode:;;;;}", "{desEncode:\xff\xff}", std::string(5000, '%')};
    for (const std::string& s : junk) {
        SessionParams q = parsed(s);
        EXPECT_EQ(uint32_t(q.portMedia), 5918u) << s;
        EXPECT_LT(std::strlen(q.ip), sizeof q.ip);
        EXPECT_LT(std::strlen(q.userNM), sizeof q.userNM);
        (void)session_window_title(q);
    }
    EXPECT_STREQ(parsed("{userNM:a\x01\x02\x1b[31m}").userNM, "a\x01\x02\x1b[31m");
    EXPECT_STREQ(parsed("\xff\xfe{ip:\xc3\x28,userNM:\xe2\x82}").ip, "\xc3\x28");
    // A decoded NUL ends the text.
    EXPECT_STREQ(parsed("%00{ip:1.1.1.1}").ip, "");
    SessionParams n = parsed("{ip:1.1.1.1%00,portKM:3}");
    EXPECT_STREQ(n.ip, "1.1.1.1");
    EXPECT_EQ(uint32_t(n.portKM), 0u);
}
