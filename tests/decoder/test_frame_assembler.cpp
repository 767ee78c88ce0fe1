// Fragment joining and the capacity bound of the frame assembler.
#include "tools/decoder/c_frame_assembler.h"

#include "common/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> body(uint8_t flag, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> b(12 + payload.size());
    b[0] = 6;
    b[1] = flag;
    const uint32_t n = uint32_t(payload.size());
    b[8] = uint8_t(n >> 24);
    b[9] = uint8_t(n >> 16);
    b[10] = uint8_t(n >> 8);
    b[11] = uint8_t(n);
    std::memcpy(b.data() + 12, payload.data(), payload.size());
    return b;
}

std::vector<uint8_t> filled(size_t n, uint8_t v)
{
    return std::vector<uint8_t>(n, v);
}

} // namespace

TEST(FrameAssembler, JoinsFragmentsAndPassesSingleOnesInPlace)
{
    c_frame_assembler a;
    int len = -1;

    // One message with flag 1: the payload itself, no copy.
    auto single = body(1, {0xAA, 0xBB, 0xCC});
    const uint8_t* p = a.add(single.data(), int(single.size()), &len);
    EXPECT_EQ(p, single.data() + 12);
    EXPECT_EQ(len, 3);

    // Flags 0, 2, 1: flag 2 means more follow, just like 0.
    auto f1 = body(0, {1, 2});
    auto f2 = body(2, {3});
    auto f3 = body(1, {4, 5, 6});
    EXPECT_EQ(a.add(f1.data(), int(f1.size()), &len), nullptr);
    EXPECT_EQ(a.add(f2.data(), int(f2.size()), &len), nullptr);
    EXPECT_EQ(a.filled(), 3);
    p = a.add(f3.data(), int(f3.size()), &len);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(len, 6);
    EXPECT_EQ(std::vector<uint8_t>(p, p + len), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(a.filled(), 0);

    // The next unit starts empty.
    auto g1 = body(0, {7});
    auto g2 = body(1, {8});
    a.add(g1.data(), int(g1.size()), &len);
    p = a.add(g2.data(), int(g2.size()), &len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(p, p + len), (std::vector<uint8_t>{7, 8}));

    // A body shorter than its 12-byte head is no fragment.
    uint8_t shorty[11] = {6, 1};
    EXPECT_EQ(a.add(shorty, 11, &len), nullptr);
    EXPECT_EQ(a.filled(), 0);
}

TEST(FrameAssembler, UnitOverCapacityIsDroppedWhole)
{
    LogCapture log;
    c_frame_assembler a(1000);
    int len = 0;

    // Exactly the capacity fits.
    auto half = body(0, filled(500, 1));
    auto rest = body(1, filled(500, 2));
    a.add(half.data(), int(half.size()), &len);
    const uint8_t* p = a.add(rest.data(), int(rest.size()), &len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 1000);
    EXPECT_FALSE(log.contains("dropped"));

    // One byte more: the unit goes, including its later fragments, and the
    // unit after it is assembled normally.
    auto big1 = body(0, filled(600, 3));
    auto big2 = body(0, filled(401, 4));
    auto big3 = body(2, filled(10, 5));
    auto big4 = body(1, filled(10, 6));
    EXPECT_EQ(a.add(big1.data(), int(big1.size()), &len), nullptr);
    EXPECT_EQ(a.add(big2.data(), int(big2.size()), &len), nullptr);
    EXPECT_EQ(a.filled(), 0);
    EXPECT_EQ(a.add(big3.data(), int(big3.size()), &len), nullptr);
    EXPECT_EQ(a.add(big4.data(), int(big4.size()), &len), nullptr);
    EXPECT_EQ(a.filled(), 0);

    auto next1 = body(0, {9});
    auto next2 = body(1, {10});
    a.add(next1.data(), int(next1.size()), &len);
    p = a.add(next2.data(), int(next2.size()), &len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(p, p + len), (std::vector<uint8_t>{9, 10}));

    // A single oversized message is refused too, and ends its own unit.
    auto huge = body(1, filled(1001, 7));
    EXPECT_EQ(a.add(huge.data(), int(huge.size()), &len), nullptr);
    p = a.add(next2.data(), int(next2.size()), &len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 1);

    EXPECT_TRUE(log.contains("video access unit over 1000 bytes dropped"));
}
